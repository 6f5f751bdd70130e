// Small helpers for the designed look: fonts by pixel size and text colours.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QWidget>

namespace DesignLook {

inline const QColor Navy{0, 0, 128};
inline const QColor Maroon{128, 0, 0};
inline const QColor Green{0, 128, 0};
inline const QColor Red{255, 0, 0};
inline const QColor Lime{0, 255, 0};

inline QFont PixelFont(const QString& family, int px, bool bold = false) {
    QFont f(family);
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

inline QFont Arial(int px, bool bold = false) {
    return PixelFont("Arial", px, bold);
}
inline QFont CourierNew(int px, bool bold = false) {
    return PixelFont("Courier New", px, bold);
}

// Sets the text colour of one widget; children that set their own keep theirs.
inline void SetTextColor(QWidget* w, const QColor& color) {
    QPalette pal = w->palette();
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        for (auto group : {QPalette::Active, QPalette::Inactive})
            pal.setColor(group, role, color);
    w->setPalette(pal);
}

// Where the style puts a part of a selector (its text field, its arrow).
inline QRect ComboPart(const QComboBox* box, QStyle::SubControl part) {
    QStyleOptionComboBox opt;
    opt.initFrom(box);
    opt.editable = box->isEditable();
    opt.frame = box->hasFrame();
    return box->style()->subControlRect(QStyle::CC_ComboBox, &opt, part, box);
}

} // namespace DesignLook
