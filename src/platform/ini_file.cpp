#include "platform/ini_file.h"

#include "platform/code_page.h"
#include "platform/ui_seam.h"

#include <QDir>

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cstdint>

namespace nx7
{

namespace
{

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Blanks are spaces and tabs, as the profile API trims them.
QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text.at(begin)))
        ++begin;
    while (end > begin && IsBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// A value cannot span lines: a line break inside it would forge keys or sections.
QString OneLine(QString text)
{
    text.remove(QLatin1Char('\r'));
    text.remove(QLatin1Char('\n'));
    return text;
}

bool SameName(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

} // namespace

// Reading follows the Windows profile API: blanks (spaces, tabs) around the section name, the key
// and the value are ignored, and a value enclosed in one pair of matching double or single quotes
// loses them. Lines beginning with ';' are comments; a line without '=' inside a section is kept
// but is no key. Writing puts "key=value" with no blanks; a key that is rewritten keeps the
// spelling it has in the file.
IniFile IniFile::Parse(const QByteArray& bytes)
{
    IniFile ini;
    QByteArray body = bytes;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        ini.m_encoding = Encoding::Utf8Bom;
        ini.m_bom = bytes.left(3);
    } else if (bytes.startsWith("\xFF\xFE")) {
        ini.m_encoding = Encoding::Utf16LE;
        ini.m_bom = bytes.left(2);
    } else if (bytes.startsWith("\xFE\xFF")) {
        ini.m_encoding = Encoding::Utf16BE;
        ini.m_bom = bytes.left(2);
    }
    body = bytes.mid(ini.m_bom.size());

    const bool wide = ini.m_encoding == Encoding::Utf16LE || ini.m_encoding == Encoding::Utf16BE;
    const qsizetype unit = wide ? 2 : 1;
    if (wide && body.size() % 2 != 0) {
        ini.m_tail = body.right(1);
        body.chop(1);
    }
    auto unitAt = [&](qsizetype i) -> unsigned {
        if (!wide)
            return static_cast<unsigned char>(body.at(i));
        const auto lo = static_cast<unsigned char>(body.at(ini.m_encoding == Encoding::Utf16LE ? i : i + 1));
        const auto hi = static_cast<unsigned char>(body.at(ini.m_encoding == Encoding::Utf16LE ? i + 1 : i));
        return lo | (hi << 8);
    };

    bool newlineSeen = false;
    qsizetype start = 0;
    qsizetype i = 0;
    const qsizetype n = body.size();
    while (i < n) {
        const unsigned u = unitAt(i);
        if (u != '\r' && u != '\n') {
            i += unit;
            continue;
        }
        qsizetype eolLength = unit;
        if (u == '\r' && i + unit < n && unitAt(i + unit) == '\n')
            eolLength = 2 * unit;
        Line line;
        line.raw = body.mid(start, i - start);
        line.eol = body.mid(i, eolLength);
        ini.m_lines.append(line);
        if (!newlineSeen) {
            ini.m_newline = ini.Decode(line.eol);
            newlineSeen = true;
        }
        i += eolLength;
        start = i;
    }
    if (start < n) {
        Line line;
        line.raw = body.mid(start);
        ini.m_lines.append(line);
    }
    for (Line& line : ini.m_lines)
        line.text = ini.Decode(line.raw);
    ini.Index();
    return ini;
}

QByteArray IniFile::Serialize() const
{
    QByteArray out = m_bom;
    for (const Line& line : m_lines) {
        out.append(line.dirty ? Encode(line.text) : line.raw);
        out.append(line.eol);
    }
    out.append(m_tail);
    return out;
}

QByteArray IniFile::Encode(const QString& text) const
{
    switch (m_encoding) {
    case Encoding::Ansi:
        return ToAnsi(text);
    case Encoding::Utf8Bom:
        return text.toUtf8();
    case Encoding::Utf16LE: {
        QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
        return encoder.encode(text);
    }
    case Encoding::Utf16BE: {
        QStringEncoder encoder(QStringConverter::Utf16BE, QStringConverter::Flag::Stateless);
        return encoder.encode(text);
    }
    }
    return {};
}

QString IniFile::Decode(const QByteArray& raw) const
{
    // Every line is decoded on its own: a zero-width no-break space at a line start is text,
    // not a byte-order mark.
    const auto flags = QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;
    switch (m_encoding) {
    case Encoding::Ansi:
        return FromAnsi(raw);
    case Encoding::Utf8Bom: {
        QStringDecoder decoder(QStringConverter::Utf8, flags);
        return decoder.decode(raw);
    }
    case Encoding::Utf16LE: {
        QStringDecoder decoder(QStringConverter::Utf16LE, flags);
        return decoder.decode(raw);
    }
    case Encoding::Utf16BE: {
        QStringDecoder decoder(QStringConverter::Utf16BE, flags);
        return decoder.decode(raw);
    }
    }
    return {};
}

void IniFile::Index()
{
    m_sections.clear();
    Section* current = nullptr;
    for (int i = 0; i < m_lines.size(); ++i) {
        const QString& text = m_lines.at(i).text;
        const QString trimmed = TrimBlanks(text);
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            const qsizetype close = trimmed.lastIndexOf(QLatin1Char(']'));
            if (close > 0) {
                Section section;
                section.name = TrimBlanks(trimmed.mid(1, close - 1));
                section.header = i;
                m_sections.append(section);
                current = &m_sections.last();
                continue;
            }
        }
        if (!current)
            continue;
        const qsizetype eq = text.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        Entry entry;
        entry.line = i;
        entry.key = TrimBlanks(text.left(eq));
        if (entry.key.isEmpty())
            continue;
        entry.value = TrimBlanks(text.mid(eq + 1));
        if (entry.value.size() >= 2) {
            const QChar first = entry.value.front();
            if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && entry.value.back() == first)
                entry.value = entry.value.mid(1, entry.value.size() - 2);
        }
        current->entries.append(entry);
    }
}

int IniFile::FindSection(const QString& section) const
{
    const QString name = TrimBlanks(section);
    for (int i = 0; i < m_sections.size(); ++i) {
        if (SameName(m_sections.at(i).name, name))
            return i;
    }
    return -1;
}

const IniFile::Entry* IniFile::Find(const QString& section, const QString& key) const
{
    const int s = FindSection(section);
    if (s < 0)
        return nullptr;
    const QString name = TrimBlanks(key);
    for (const Entry& entry : m_sections.at(s).entries) {
        if (SameName(entry.key, name))
            return &entry;
    }
    return nullptr;
}

bool IniFile::Load(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *this = IniFile();
        return true;
    }
    if (info.isDir())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    *this = Parse(bytes);
    return true;
}

FileSaveResult IniFile::Write(const QString& path) const
{
    // A read-only file is never replaced, as Windows refuses to rename over one.
    const QFileInfo info(path);
    if (info.exists() && (info.isDir() || !(info.permissions() & QFileDevice::WriteOwner)))
        return FileSaveResult{FileSaveResult::Kind::NoAccess, QString()};
    FileSaveOptions options;
    options.inPlaceFallback = true;
    return SaveWholeFile(path, Serialize(), options);
}

void ReportIniSaveFailure(UserInteraction* ui, const QString& path, const QString& cause)
{
    static QStringList reported;
    if (!ui || reported.contains(path))
        return;
    reported.append(path);
    QString text =
        QStringLiteral("iniファイルの生成・更新に失敗しました。\n\nアクセス権限を確認してください。") +
        QStringLiteral("\n\n") + QDir::toNativeSeparators(path);
    if (!cause.isEmpty())
        text += QStringLiteral("\n\n") + cause;
    MessageRequest request = ErrorBox(text, QStringLiteral("例外エラー"));
    request.ownedByMainWindow = false;
    ui->Message(request);
}

bool IniFile::HasSection(const QString& section) const
{
    return FindSection(section) >= 0;
}

QStringList IniFile::Sections() const
{
    QStringList names;
    for (const Section& section : m_sections) {
        if (!names.contains(section.name, Qt::CaseInsensitive))
            names.append(section.name);
    }
    return names;
}

QStringList IniFile::Keys(const QString& section) const
{
    QStringList keys;
    const int s = FindSection(section);
    if (s < 0)
        return keys;
    for (const Entry& entry : m_sections.at(s).entries) {
        if (!keys.contains(entry.key, Qt::CaseInsensitive))
            keys.append(entry.key);
    }
    return keys;
}

std::optional<QString> IniFile::Value(const QString& section, const QString& key) const
{
    const Entry* entry = Find(section, key);
    if (!entry)
        return std::nullopt;
    return entry->value;
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const
{
    const std::optional<QString> text = Value(section, key);
    if (!text)
        return def;
    return ParseIniInteger(*text).value_or(def);
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const
{
    return Value(section, key).value_or(def);
}

void IniFile::InsertLine(int at, const QString& text)
{
    // Only the last line can lack a line break; it needs one before anything follows it.
    if (at > 0 && m_lines.at(at - 1).eol.isEmpty())
        m_lines[at - 1].eol = Encode(m_newline);
    Line line;
    line.text = text;
    line.dirty = true;
    line.eol = Encode(m_newline);
    m_lines.insert(at, line);
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const QString sectionName = TrimBlanks(OneLine(section));
    const QString keyName = TrimBlanks(OneLine(key));
    const QString text = OneLine(value);
    if (keyName.isEmpty())
        return;
    const int s = FindSection(sectionName);
    if (s < 0) {
        // Appended right after the last line, with no blank line before it, as Windows' profile
        // functions write a new section.
        int at = static_cast<int>(m_lines.size());
        InsertLine(at++, QLatin1Char('[') + sectionName + QLatin1Char(']'));
        InsertLine(at, keyName + QLatin1Char('=') + text);
        Index();
        return;
    }
    if (const Entry* entry = Find(sectionName, keyName)) {
        // An unchanged value keeps its line byte for byte.
        if (entry->value == text)
            return;
        Line& line = m_lines[entry->line];
        line.text = entry->key + QLatin1Char('=') + text;
        line.dirty = true;
        Index();
        return;
    }
    const Section& found = m_sections.at(s);
    const int last = found.entries.isEmpty() ? found.header : found.entries.last().line;
    InsertLine(last + 1, keyName + QLatin1Char('=') + text);
    Index();
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    WriteString(section, key, QString::number(value));
}

namespace
{
// The value of a hexadecimal digit, -1 for any other character.
int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// The hexadecimal digits of `t` from `i` on, as a 32-bit pattern: 0xFFFFFFFF is -1.
std::optional<int> ParseHexDigits(const QString& t, qsizetype i)
{
    if (i >= t.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (; i < t.size(); ++i) {
        const int digit = HexDigit(t.at(i).unicode());
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return static_cast<int>(static_cast<std::uint32_t>(value));
}

// A decimal number with an optional sign that fits an int.
std::optional<int> ParseDecimal(const QString& t)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == QLatin1Char('-') || t.at(i) == QLatin1Char('+'))) {
        negative = t.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i >= t.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > 0x80000000LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 0x7FFFFFFFLL)
        return std::nullopt;
    return static_cast<int>(value);
}
} // namespace

std::optional<int> ParseIniInteger(const QString& text)
{
    const QString t = TrimBlanks(text);
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return ParseHexDigits(t, 2);
    if (t.startsWith(QLatin1Char('$')))
        return ParseHexDigits(t, 1);
    return ParseDecimal(t);
}

} // namespace nx7
