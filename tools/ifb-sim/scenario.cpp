#include "scenario.h"

#include <charconv>
#include <sstream>

namespace ifbsim
{

namespace
{

std::vector<std::string> Tokens(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string t;
    while (in >> t) {
        if (t[0] == '#')
            break;
        out.push_back(t);
    }
    return out;
}

std::optional<int> ParseCount(const std::string& text)
{
    int v = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (r.ec != std::errc() || r.ptr != end || v < 0)
        return std::nullopt;
    return v;
}

std::optional<std::uint8_t> ParseHexByte(const std::string& text)
{
    const auto bytes = ParseHexBytes(text);
    if (!bytes || bytes->size() != 1)
        return std::nullopt;
    return (*bytes)[0];
}

std::optional<Selector> ParseSelector(const std::string& text)
{
    Selector s;
    if (text == "*" || text == "any") {
        s.any = true;
        return s;
    }
    auto bytes = ParseHexBytes(text);
    if (!bytes || bytes->empty())
        return std::nullopt;
    s.prefix = std::move(*bytes);
    return s;
}

// Takes a trailing "<keyword> <n>" off the token list.
std::optional<int> TakeTrailing(std::vector<std::string>& tokens, const char* keyword, bool& bad)
{
    if (tokens.size() >= 2 && tokens[tokens.size() - 2] == keyword) {
        const auto v = ParseCount(tokens.back());
        if (!v) {
            bad = true;
            return std::nullopt;
        }
        tokens.resize(tokens.size() - 2);
        return v;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text)
{
    std::vector<std::uint8_t> out;
    int high = -1;
    for (const char c : text) {
        if (c == ' ' || c == '\t')
            continue;
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return out;
}

bool Selector::Matches(std::span<const std::uint8_t> data) const
{
    if (any)
        return true;
    if (data.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (data[i] != prefix[i])
            return false;
    }
    return true;
}

bool Fault::Take(std::span<const std::uint8_t> data)
{
    if (!selector.Matches(data) || (times >= 0 && used >= times))
        return false;
    ++used;
    return true;
}

std::optional<std::string> Scenario::AddLine(const std::string& line)
{
    std::vector<std::string> t = Tokens(line);
    if (t.empty())
        return std::nullopt;
    const std::string verb = t[0];
    const std::string err = "cannot read directive: " + line;
    bool bad = false;

    if (verb == "usb-only") {
        if (t.size() != 1)
            return err;
        usbOnly = true;
        return std::nullopt;
    }
    if (verb == "drop") {
        const auto forMs = TakeTrailing(t, "for", bad);
        const auto after = TakeTrailing(t, "after", bad);
        if (bad || !after || t.size() != 1)
            return err;
        dropAfter = *after;
        dropForMs = forMs.value_or(-1);
        return std::nullopt;
    }
    if (verb == "ota-wrong-password") {
        if (t.size() != 1)
            return err;
        ota.wrongPassword = true;
        return std::nullopt;
    }
    if (verb == "ota-drop") {
        const bool once = t.size() >= 2 && t.back() == "once";
        if (once)
            t.pop_back();
        const auto after = TakeTrailing(t, "after", bad);
        if (bad || !after || t.size() != 1)
            return err;
        ota.dropAfterBytes = *after;
        ota.firstOnly = ota.firstOnly || once;
        return std::nullopt;
    }
    if (verb == "ota-corrupt") {
        const auto at = TakeTrailing(t, "at", bad);
        if (bad || t.size() != 1)
            return err;
        // Byte 1 by default: past the magic byte, so the board gets as far as the MD5 check.
        ota.corruptAt = at.value_or(1);
        return std::nullopt;
    }
    if (verb == "send" || verb == "message") {
        const auto after = TakeTrailing(t, "after", bad);
        if (bad || (verb == "send" && t.size() < 2))
            return err;
        Notification n;
        n.afterMs = after.value_or(0);
        if (verb == "send") {
            const auto code = ParseHexByte(t[1]);
            std::string hex;
            for (std::size_t i = 2; i < t.size(); ++i)
                hex += t[i] == "-" ? std::string() : t[i];
            const auto data = ParseHexBytes(hex);
            if (!code || !data || data->size() > 255)
                return err;
            n.code = *code;
            n.data = *data;
        } else {
            // A text message: 'E' frame whose data is 'M' and the text (blanks between words kept single).
            n.code = 0x45;
            n.data.push_back('M');
            for (std::size_t i = 1; i < t.size(); ++i) {
                if (i > 1)
                    n.data.push_back(' ');
                n.data.insert(n.data.end(), t[i].begin(), t[i].end());
            }
            if (n.data.size() > 255)
                return err;
        }
        sends.push_back(std::move(n));
        return std::nullopt;
    }

    Fault f;
    if (verb == "silent")
        f.kind = Fault::Kind::Silent;
    else if (verb == "nack")
        f.kind = Fault::Kind::Nack;
    else if (verb == "short")
        f.kind = Fault::Kind::Short;
    else if (verb == "late")
        f.kind = Fault::Kind::Late;
    else if (verb == "bad-checksum")
        f.kind = Fault::Kind::BadChecksum;
    else if (verb == "misplaced-cr")
        f.kind = Fault::Kind::MisplacedCr;
    else if (verb == "noise")
        f.kind = Fault::Kind::Noise;
    else if (verb == "split")
        f.kind = Fault::Kind::Split;
    else if (verb == "with-note")
        f.kind = Fault::Kind::WithNote;
    else
        return "unknown directive: " + line;

    const auto times = TakeTrailing(t, "times", bad);
    if (bad)
        return err;
    f.times = times.value_or(-1);
    if (t.size() == 1) {
        // Without a selector the directive applies to every request.
        f.selector.any = true;
    } else {
        const auto sel = ParseSelector(t[1]);
        if (!sel)
            return err;
        f.selector = *sel;
    }
    const std::vector<std::string> args(t.size() > 2 ? t.begin() + 2 : t.end(), t.end());

    switch (f.kind) {
    case Fault::Kind::Nack: {
        if (args.empty() || args.size() > 2)
            return err;
        const auto code = ParseHexByte(args[0]);
        const auto detail = args.size() == 2 ? ParseHexByte(args[1]) : std::optional<std::uint8_t>(0);
        if (!code || !detail)
            return err;
        f.nackCode = *code;
        f.nackDetail = *detail;
        break;
    }
    case Fault::Kind::Late:
    case Fault::Kind::Noise: {
        if (args.size() != 1)
            return err;
        const auto v = ParseCount(args[0]);
        if (!v)
            return err;
        (f.kind == Fault::Kind::Late ? f.ms : f.count) = *v;
        break;
    }
    case Fault::Kind::WithNote: {
        if (args.empty())
            return err;
        const auto code = ParseHexByte(args[0]);
        std::string hex;
        for (std::size_t i = 1; i < args.size(); ++i)
            hex += args[i] == "-" ? std::string() : args[i];
        const auto data = ParseHexBytes(hex);
        if (!code || !data || data->size() > 255)
            return err;
        f.noteCode = *code;
        f.noteData = *data;
        break;
    }
    case Fault::Kind::Split: {
        if (args.size() > 1)
            return err;
        f.ms = 5;
        if (args.size() == 1) {
            const auto v = ParseCount(args[0]);
            if (!v)
                return err;
            f.ms = *v;
        }
        break;
    }
    default:
        if (!args.empty())
            return err;
        break;
    }
    faults.push_back(f);
    return std::nullopt;
}

} // namespace ifbsim
