#include "platform/Accessibility.h"

#include <QAbstractButton>
#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// The relative luminance of an opaque colour in sRGB.
double Luminance(const QColor &colour)
{
    const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

} // namespace

QString WithoutMnemonic(const QString &text)
{
    static const QRegularExpression inParentheses(QStringLiteral("\\s*[(（]&[^&\\s][)）]"));
    QString plain = text;
    plain.remove(inParentheses);
    QString said;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        // "&&" stands for "&" itself.
        if (plain[i] == u'&' && ++i == plain.size())
            break;
        said.append(plain[i]);
    }
    return said;
}

void NameControlsByTheirLabels(QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (QWidget *field = label->buddy()) {
            label->setAccessibleName(WithoutMnemonic(label->text()));
            field->setAccessibleName(label->accessibleName());
        }
    }
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        if (button->text().contains(u'&'))
            button->setAccessibleName(WithoutMnemonic(button->text()));
    // A group inside a group would be named by the outer one's title.
    for (QGroupBox *group : window->findChildren<QGroupBox *>())
        group->setAccessibleName(WithoutMnemonic(group->title()));
    // An editable drop-down's edit box is a field of its own to a screen reader.
    for (QComboBox *combo : window->findChildren<QComboBox *>())
        if (combo->lineEdit())
            combo->lineEdit()->setAccessibleName(combo->accessibleName());
}

void LabelForScreenReaders(QWidget *field, const QString &text)
{
    // Qt names a drop-down list by its value on Linux and tells its label by the relation
    // to the label whose buddy it is, so such a field without a label widget of its own
    // gets one that is never shown.
    auto *label = new QLabel(text, field->parentWidget());
    label->setObjectName(field->objectName() + QStringLiteral("ScreenReaderLabel"));
    label->hide();
    label->setBuddy(field);
}

double ContrastRatio(const QColor &text, const QColor &background)
{
    const QColor under = background.toRgb();
    const QColor over = text.toRgb();
    const double a = over.alphaF();
    const QColor seen = QColor::fromRgbF(float(a * over.redF() + (1 - a) * under.redF()),
                                         float(a * over.greenF() + (1 - a) * under.greenF()),
                                         float(a * over.blueF() + (1 - a) * under.blueF()));
    const double l1 = Luminance(seen), l2 = Luminance(under);
    return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}
