#pragma once
// Small pieces every dialog of the tool shares: fonts with a Japanese fallback, colours of the
// original design, placement.
#include <QColor>
#include <QFont>
#include <QSize>
#include <QString>

class QWidget;

namespace nx7
{

// The named font when the system has it, else a Japanese-capable sans face.
QFont UiFont(const QString& family, int pixelSize);
// For Mincho-style faces: the named font, else a Japanese-capable serif face.
QFont UiSerifFont(const QString& family, int pixelSize);

// Colours named by the design.
inline QColor CreamColour()
{
    return QColor(255, 251, 240);
}
inline QColor SkyBlueColour()
{
    return QColor(166, 202, 240);
}
inline QColor NavyColour()
{
    return QColor(0, 0, 128);
}
inline QColor BlueColour()
{
    return QColor(0, 0, 255);
}
inline QColor LimeColour()
{
    return QColor(0, 255, 0);
}

void SetTextColour(QWidget* widget, const QColor& colour);
void SetBackgroundColour(QWidget* widget, const QColor& colour);

// Fixes a dialog's size at its design size, or larger where its texts need more room, so that
// nothing is cut off (longer translations, fonts wider than the design's, extra lines). Call it
// once the texts are set, e.g. when the dialog is shown.
void FitFixedSize(QWidget* dialog, QSize designSize);

// Centres a top-level window on the screen it is on.
void CentreOnScreen(QWidget* window);
// Centres a top-level window over another window (no-op without one).
void CentreOver(QWidget* window, const QWidget* over);

} // namespace nx7
