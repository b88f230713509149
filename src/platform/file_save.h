#pragma once
// Saving a file so that a failed save never destroys what was there: every write, the flush and
// the sync to disk are checked before the new content takes the old one's place, and a failure
// says why in words a person can act on.
#include <QByteArray>
#include <QFile>
#include <QString>

namespace nx7
{

struct FileSaveResult {
    enum class Kind {
        Saved,
        NoAccess,    // neither a temporary file beside it nor the file itself could be opened
        WriteFailed, // opened, but not written, flushed or put in place whole
        Exists,      // ExistingFile::Keep and something is at the path already
    };
    Kind kind = Kind::Saved;
    QString cause; // why it failed ("ディスクの空き容量が不足しています (No space left on device)")

    bool Saved() const { return kind == Kind::Saved; }
};

enum class ExistingFile {
    Replace, // an existing file is replaced (a symbolic link is followed, as before)
    Keep,    // an existing file or a symbolic link at the path is refused: nothing is written
};

struct FileSaveOptions {
    ExistingFile existing = ExistingFile::Replace;
    // When no temporary file can be made beside the file (its folder cannot be written), an
    // existing file is rewritten in place; a failure puts the old content back.
    bool inPlaceFallback = false;
};

// Writes `bytes` to a temporary file beside `path` and renames it over `path` only after the
// write, the flush and the sync succeeded; on any failure the old file is left byte for byte.
FileSaveResult SaveWholeFile(const QString& path, const QByteArray& bytes,
                             const FileSaveOptions& options = {});

// Appends `bytes` to the end of a file opened Unbuffered, in one write; when the write or the
// flush fails the file is cut back to the size it had, so a failed append leaves it as it was.
// `cause` gets the reason on failure.
bool AppendWhole(QFile& file, const QByteArray& bytes, QString* cause = nullptr);

// The reason of the last failed file operation (`errorNumber` is errno where the system gives
// it, else 0, and then Qt's `qtText` is used) in words for the person, with the system's own text
// after it.
QString FileErrorCause(int errorNumber, const QString& qtText);

} // namespace nx7
