#include "update/uploader_selection.h"

#include "core/app_core.h"
#include "platform/app_paths.h"

#include <QDir>
#include <QFileInfo>

namespace nx7
{

QString UploaderDownloadUrl()
{
    return QStringLiteral("https://github.com/espressif/arduino-esp32/tree/master/tools");
}

bool IsUploaderFileName(const QString& fileName)
{
#ifdef Q_OS_WIN
    static const QLatin1String names[] = {QLatin1String("espota.exe")};
#else
    static const QLatin1String names[] = {QLatin1String("espota.exe"), QLatin1String("espota.py"),
                                          QLatin1String("espota")};
#endif
    for (const QLatin1String& name : names) {
        if (fileName.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool IsAcceptableUploaderPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isFile() && IsUploaderFileName(info.fileName());
}

QString UploaderFileName(const QString& path)
{
    const QString name = QFileInfo(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName();
    return name.isEmpty() ? QStringLiteral("espota.exe") : name;
}

QString NameUploaderIn(QString text, const QString& uploaderPath)
{
    const QString name = UploaderFileName(uploaderPath);
    if (name.compare(QLatin1String("espota.exe"), Qt::CaseInsensitive) != 0)
        text.replace(QLatin1String("espota.exe"), name);
    return text;
}

QString PackagedUploaderPath()
{
#ifdef Q_OS_WIN
    // The installer and the zip put the project's uploader beside the program.
    const QFileInfo candidate(QDir(ExecutableDir()).absoluteFilePath(QStringLiteral("espota.exe")));
    return candidate.isFile() ? QDir::toNativeSeparators(candidate.absoluteFilePath()) : QString();
#else
    const QDir exeDir(ExecutableDir());
    for (const QString& relative :
         {QStringLiteral("../libexec/nx7ifbprog/espota"), QStringLiteral("../../tools/espota/espota")}) {
        const QFileInfo candidate(QDir::cleanPath(exeDir.absoluteFilePath(relative)));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.absoluteFilePath();
    }
    return QString();
#endif
}

UploaderDialogRequest UploaderSelectionRequest(const QString& path, const QString& packaged)
{
    UploaderDialogRequest r;
    r.caption = QStringLiteral("OTA書換ツールの選択");
    r.prompt = QStringLiteral("OTA書換ツール「espota.exe」を選択してください。");
    r.path = path;
#ifdef Q_OS_WIN
    r.browseFilter = QStringLiteral("espota実行ファイル|*.exe");
    r.dropExt = QStringLiteral("exe");
#else
    // The uploader may also be the script or a file without extension here; its name is fixed.
    r.browseFilter = QStringLiteral("espota|espota;espota.py;espota.exe|すべてのファイル|*");
    r.dropExt = QStringLiteral("exe;py;");
#endif
    r.downloadNote = QStringLiteral("espota.exeは下記URLよりダウンロードしてください。");
    r.url = UploaderDownloadUrl();
    if (!packaged.isEmpty()) {
        // This program brings its own uploader: nothing to download.
        r.prompt =
            QStringLiteral("OTA書換ツール「%1」を選択してください。").arg(QFileInfo(packaged).fileName());
        r.downloadNote =
            QStringLiteral("このプログラムに付属のOTA書換ツール:\n") + QDir::toNativeSeparators(packaged);
        r.url.clear();
        if (!IsAcceptableUploaderPath(path))
            r.path = QDir::toNativeSeparators(packaged);
    }
    return r;
}

bool SelectUploader(AppCore& app, bool askOnCancel)
{
    UploaderDialogRequest request = UploaderSelectionRequest(app.Settings.App_ESPOta, PackagedUploaderPath());
    for (;;) {
        const UploaderDialogResult result = app.Ui.UploaderDialog(request);
        if (result.result == 1) {
            if (IsAcceptableUploaderPath(result.path)) {
                app.Settings.App_ESPOta = result.path;
                return true;
            }
            request.path.clear();
            // No caption of its own: the system's default title.
            app.Ui.Message(OkBox(QStringLiteral(
                "有効なファイルパスではありません。\n\n「espota.exe」を再選択してください。")));
            continue;
        }
        if (!askOnCancel)
            return false;
        request.path = result.path;
        MessageRequest question =
            YesNoBox(QStringLiteral("ファームウェア書き込みは完了していません。\n中止しますか。"),
                     QStringLiteral("ファームウェア書き込みの中止"), MsgIcon::None);
        question.negativeRepeats = true;
        question.defaultNo = true;
        if (app.Ui.Message(question) == MsgResult::Yes)
            return false;
    }
}

void N7Click(AppCore& app)
{
    SelectUploader(app, false);
    if (app.View.showUploaderPath)
        app.View.showUploaderPath(app.Settings.App_ESPOta);
}

} // namespace nx7
