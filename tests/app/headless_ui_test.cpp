// The headless front-end's questions: what it prints and how it answers.
#include "app/headless.h"

#include <QString>
#include <cstdio>
#include <gtest/gtest.h>

using namespace nx7;

namespace
{

// Asks one question of a headless front-end and returns what it printed and answered.
struct Asked {
    QString printed;
    MsgResult answer;
};

Asked Ask(bool yes, const MessageRequest& request)
{
    std::FILE* err = std::tmpfile();
    EXPECT_NE(err, nullptr);
    HeadlessOptions options;
    options.yes = yes;
    HeadlessUi ui(options, err);
    const MsgResult answer = ui.Message(request);
    std::rewind(err);
    QByteArray bytes;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, err)) > 0;)
        bytes.append(buffer, static_cast<qsizetype>(n));
    std::fclose(err);
    return {QString::fromUtf8(bytes), answer};
}

} // namespace

// A question whose Enter answers No says so; the answer itself still follows --yes / --no.
TEST(HeadlessUi, SafeDefaultIsShownAndTheAnswerFollowsTheOption)
{
    MessageRequest request{QStringLiteral("このまま書き込みを続けますか？"),
                           QStringLiteral("ネットワークの確認"), MsgIcon::Exclamation, MsgButtons::YesNo};
    const QString note = QStringLiteral("（既定の答え: いいえ）");
    struct Case {
        bool defaultNo;
        bool yes;
        bool noted;
        MsgResult answer;
    };
    const Case cases[] = {
        {true, false, true, MsgResult::No},
        {true, true, true, MsgResult::Yes},
        {false, false, false, MsgResult::No},
        {false, true, false, MsgResult::Yes},
    };
    for (const Case& c : cases) {
        request.defaultNo = c.defaultNo;
        const Asked asked = Ask(c.yes, request);
        EXPECT_TRUE(
            asked.printed.startsWith(QStringLiteral("[ネットワークの確認] このまま書き込みを続けますか？\n")))
            << qPrintable(asked.printed);
        EXPECT_EQ(asked.printed.contains(note), c.noted) << c.defaultNo << c.yes;
        EXPECT_EQ(asked.answer, c.answer) << c.defaultNo << c.yes;
    }
}
