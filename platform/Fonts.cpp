#include "Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>

namespace kelvorin {

QFont ReportFont() {
    QFont font(QStringLiteral("Courier New"), 9);
    if (QFontInfo(font).fixedPitch()) return font;
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(9);
    if (QFontInfo(font).fixedPitch()) return font;
    font = QFont(QStringLiteral("monospace"), 9);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

}  // namespace kelvorin
