#pragma once
// The pieces of a path field: files dropped onto it, and the filter its browse button gives the
// file-open dialog.
#include <QObject>
#include <QStringList>

class QWidget;

namespace nx7
{

// Accepts local files dragged onto `target` and hands over their paths in drop order. Anything
// else dragged there (text, web addresses) is refused and never edits the target.
class TFileDrop : public QObject
{
    Q_OBJECT
public:
    TFileDrop(const QString& objectName, QWidget* target);

signals:
    void Dropped(const QStringList& paths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// "desc|*.exe|desc2|*.a;*.b" -> "desc (*.exe);;desc2 (*.a *.b)"; a description without patterns
// gets "*"; "" -> "".
QString QtFileFilter(const QString& filter);

} // namespace nx7
