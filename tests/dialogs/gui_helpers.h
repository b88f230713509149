#pragma once
#include <QAbstractButton>
#include <QDialog>
#include <QTimer>
#include <functional>

namespace nx7::test
{

// Runs `action` once the dialog's own event loop is running, then runs the dialog.
inline int ExecWith(QDialog& dialog, std::function<void()> action)
{
    QTimer::singleShot(0, &dialog, std::move(action));
    return dialog.exec();
}

template <typename T> T* Child(const QObject* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

} // namespace nx7::test
