#include "dialogs/file_drop.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace nx7
{

TFileDrop::TFileDrop(const QString& objectName, QWidget* target)
    : QObject(target)
{
    setObjectName(objectName);
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

bool TFileDrop::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        QStringList paths;
        if (drop->mimeData()) {
            for (const QUrl& url : drop->mimeData()->urls()) {
                if (url.isLocalFile())
                    paths.append(url.toLocalFile());
            }
        }
        // Only files are taken; dragged text never edits the field.
        if (paths.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        if (event->type() == QEvent::Drop)
            emit Dropped(paths);
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

QString QtFileFilter(const QString& filter)
{
    if (filter.isEmpty())
        return {};
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i < parts.size(); i += 2) {
        const QString patterns = i + 1 < parts.size() ? parts.at(i + 1) : QStringLiteral("*");
        QStringList list = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : list)
            p = p.trimmed();
        filters.append(parts.at(i) + QStringLiteral(" (") + list.join(QLatin1Char(' ')) + QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}

} // namespace nx7
