#include "platform/Fonts.h"

#include <QStringList>

QFont WindowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    font.setPixelSize(12);
    return font;
}

QFont FixedFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic")});
    font.setFixedPitch(true);
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(12);
    return font;
}
