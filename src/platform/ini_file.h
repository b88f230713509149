#pragma once
// Windows INI file semantics, in memory: section and key names matched without regard to case,
// original spelling and order kept; read whole and written back whole in the encoding it was
// read in (byte-order mark UTF-8 / UTF-16 LE / UTF-16 BE, else CP932).
#include "platform/file_save.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace nx7
{

class IniFile
{
public:
    enum class Encoding { Ansi, Utf8Bom, Utf16LE, Utf16BE };

    IniFile() = default;
    static IniFile Parse(const QByteArray& bytes);
    QByteArray Serialize() const;

    // Reads the whole file. A missing file gives an empty document and true; false when the
    // file exists but cannot be read.
    bool Load(const QString& path);
    // Writes the whole document to a temporary file beside `path`, then renames it over `path`
    // once the write, the flush and the sync succeeded, so a crash or a full disk never leaves a
    // truncated file. When the folder cannot be written but the file can, the file is rewritten in
    // place instead (the old content is put back if that fails). A read-only file (owner's write
    // bit clear) is never written.
    FileSaveResult Write(const QString& path) const;
    bool Save(const QString& path) const { return Write(path).Saved(); }

    Encoding encoding() const { return m_encoding; }

    bool HasSection(const QString& section) const;
    QStringList Sections() const;
    QStringList Keys(const QString& section) const; // in file order, original spelling
    // As the profile API reads it: blanks around the value dropped, one pair of enclosing quotes
    // removed; the first of duplicate sections or keys wins.
    std::optional<QString> Value(const QString& section, const QString& key) const;

    // Integer keys: "0x"/"0X" or "$" prefix is hexadecimal, else decimal; missing, empty or not a
    // number gives `def`. Values are signed 32-bit.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    QString ReadString(const QString& section, const QString& key, const QString& def) const;

    // Line breaks inside a value are dropped. A key already present keeps its place, and its line
    // stays byte for byte when the value is the same; a new key is added after the last key of its
    // section; a new section is added at the end of the file.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, int value);

private:
    struct Line {
        QByteArray raw;     // the line's bytes as read, without its line break
        QByteArray eol;     // its line break as read (empty for a last line without one)
        QString text;       // decoded text
        bool dirty = false; // rewritten: serialised from `text` instead of `raw`
    };
    struct Entry {
        int line = -1;
        QString key;   // trimmed, original spelling
        QString value; // trimmed, one surrounding pair of quotes removed
    };

    QByteArray Encode(const QString& text) const;
    QString Decode(const QByteArray& raw) const;
    void Index();
    int FindSection(const QString& section) const; // index into m_sections, -1 none
    const Entry* Find(const QString& section, const QString& key) const;
    void InsertLine(int at, const QString& text);

    struct Section {
        QString name;
        int header = -1;      // line of the header
        QList<Entry> entries; // key lines in file order
    };

    QList<Line> m_lines;
    QList<Section> m_sections;
    Encoding m_encoding = Encoding::Ansi;
    QByteArray m_bom;
    QByteArray m_tail; // a dangling odd byte of a UTF-16 file, kept as it was
    QString m_newline = QStringLiteral("\r\n");
};

class UserInteraction;

// The "例外エラー" box of a settings file that could not be saved, shown once per file and run
// (a close can be asked for more than once). `cause` (may be empty) follows the box's own text.
void ReportIniSaveFailure(UserInteraction* ui, const QString& path, const QString& cause);

// Parses an integer the way the settings file reads it; std::nullopt when it is no number.
std::optional<int> ParseIniInteger(const QString& text);

} // namespace nx7
