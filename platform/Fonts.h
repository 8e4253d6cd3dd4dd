#pragma once

#include <QFont>

// The faces of kelvo's windows. The Windows faces are asked for first; IPA Gothic stands
// in for them where they are missing (Debian's fonts-ipafont-gothic), so Japanese renders.
QFont WindowFont(); // "ＭＳ Ｐゴシック", 12 pixels
QFont FixedFont();  // "ＭＳ ゴシック", 12 pixels, fixed pitch
