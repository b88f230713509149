#include "dialogs/ui_support.h"

#include <QGuiApplication>
#include <QLayout>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace nx7
{

namespace
{
QFont FontWithFallback(const QString& family, const QString& fallback, int pixelSize)
{
    QFont font;
    font.setFamilies({family, fallback});
    font.setPixelSize(pixelSize);
    return font;
}
} // namespace

QFont UiFont(const QString& family, int pixelSize)
{
    return FontWithFallback(family, QStringLiteral("Noto Sans CJK JP"), pixelSize);
}

QFont UiSerifFont(const QString& family, int pixelSize)
{
    return FontWithFallback(family, QStringLiteral("Noto Serif CJK JP"), pixelSize);
}

void SetTextColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

void SetBackgroundColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void FitFixedSize(QWidget* dialog, QSize designSize)
{
    if (QLayout* layout = dialog->layout())
        layout->activate();
    dialog->setFixedSize(designSize.expandedTo(dialog->minimumSizeHint()));
}

void CentreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void CentreOver(QWidget* window, const QWidget* over)
{
    if (!over)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(over->frameGeometry().center());
    window->move(frame.topLeft());
}

} // namespace nx7
