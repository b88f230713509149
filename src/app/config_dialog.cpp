#include "app/config_dialog.h"

#include "comm/board_commands.h"
#include "core/app_core.h"
#include "platform/code_page.h"
#include "platform/ini_file.h"
#include "platform/ui_seam.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStringDecoder>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace nx7
{

QPointer<TConfig1Dlg> Config1Dlg;

namespace
{

constexpr double kPatternMax = 4294967295.0; // FFFFFFFF
constexpr int kBoardWaitMs = 2000;

const QString& CsvTypeMessage()
{
    static const QString text = QStringLiteral("ファイルの種別が違います。CSVファイルをDropしてください");
    return text;
}

QString NativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The partition table is plain text: a byte-order mark names its encoding, else it is CP932.
QString DecodeText(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE).decode(bytes.mid(2));
    if (bytes.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringConverter::Utf16BE).decode(bytes.mid(2));
    return FromAnsi(bytes);
}

TUpdownNumberEdit* OctetField(const QString& name, QWidget* parent)
{
    auto* edit = new TUpdownNumberEdit(parent);
    edit->setObjectName(name);
    edit->SetLimits(0, 255);
    return edit;
}

QLabel* Label(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QPushButton* BrowseButton(const QString& name, QWidget* parent)
{
    auto* button = new QPushButton(QStringLiteral("..."), parent);
    button->setObjectName(name);
    button->setFixedWidth(32);
    return button;
}

std::uint32_t OctetsValue(const TUpdownNumberEdit* a, const TUpdownNumberEdit* b, const TUpdownNumberEdit* c,
                          const TUpdownNumberEdit* d)
{
    auto octet = [](const TUpdownNumberEdit* e) { return static_cast<std::uint32_t>(e->IntValue() & 0xFF); };
    return octet(a) << 24 | octet(b) << 16 | octet(c) << 8 | octet(d);
}

void ShowOctets(std::uint32_t value, TUpdownNumberEdit* a, TUpdownNumberEdit* b, TUpdownNumberEdit* c,
                TUpdownNumberEdit* d)
{
    a->SetValue((value >> 24) & 0xFF);
    b->SetValue((value >> 16) & 0xFF);
    c->SetValue((value >> 8) & 0xFF);
    d->SetValue(value & 0xFF);
}

} // namespace

// ---- TUpdownNumberEdit

TUpdownNumberEdit::TUpdownNumberEdit(QWidget* parent)
    : QAbstractSpinBox(parent)
{
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    lineEdit()->setMaxLength(16);
    connect(this, &QAbstractSpinBox::editingFinished, this, &TUpdownNumberEdit::Commit);
    lineEdit()->setText(Format(m_value));
}

void TUpdownNumberEdit::SetHexadecimal(bool hex)
{
    const double v = Value();
    m_hex = hex;
    SetValue(v);
    updateGeometry();
}

void TUpdownNumberEdit::SetLimits(double min, double max)
{
    const double v = Value();
    m_limited = true;
    m_min = std::min(min, max);
    m_max = std::max(min, max);
    SetValue(v);
    updateGeometry();
}

void TUpdownNumberEdit::SetUnlimited()
{
    const double v = Value();
    m_limited = false;
    SetValue(v);
    updateGeometry();
}

std::optional<double> TUpdownNumberEdit::Parse(const QString& text) const
{
    static const QRegularExpression hexForm(QStringLiteral("^[0-9A-Fa-f]{1,8}$"));
    static const QRegularExpression decimalForm(QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
    const QString t = text.trimmed();
    if (m_hex) {
        if (!hexForm.match(t).hasMatch())
            return std::nullopt;
        return static_cast<double>(t.toULongLong(nullptr, 16));
    }
    if (!decimalForm.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

double TUpdownNumberEdit::Bound(double value) const
{
    if (m_limited)
        return std::clamp(value, m_min, m_max);
    // The hexadecimal text shows a 32-bit pattern and nothing beyond it.
    if (m_hex)
        return std::clamp(std::trunc(value), 0.0, kPatternMax);
    return value;
}

QString TUpdownNumberEdit::Format(double value) const
{
    if (m_hex)
        return QString::number(static_cast<qint64>(std::trunc(value)), 16).toUpper();
    if (value == std::trunc(value) && std::fabs(value) < 9.0e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15);
}

double TUpdownNumberEdit::Value() const
{
    return Bound(Parse(lineEdit()->text()).value_or(m_value));
}

qint64 TUpdownNumberEdit::IntValue() const
{
    return static_cast<qint64>(std::trunc(Value()));
}

void TUpdownNumberEdit::SetValue(double value)
{
    if (!std::isfinite(value))
        value = 0;
    // A negative 32-bit number in a hexadecimal field is shown as its bit pattern.
    if (m_hex && !m_limited && value < 0 && value >= -2147483648.0)
        value = std::trunc(value) + 4294967296.0;
    m_value = Bound(value);
    const QString text = Format(m_value);
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
}

QString TUpdownNumberEdit::WidestText() const
{
    QString widest = lineEdit()->text();
    QStringList candidates;
    if (m_limited)
        candidates = {Format(m_min), Format(m_max)};
    else if (m_hex)
        candidates = {QStringLiteral("FFFFFFFF")};
    else
        candidates = {QStringLiteral("-2147483648")};
    const QFontMetrics fm(fontMetrics());
    for (const QString& text : std::as_const(candidates)) {
        if (fm.horizontalAdvance(text) > fm.horizontalAdvance(widest))
            widest = text;
    }
    return widest;
}

QSize TUpdownNumberEdit::sizeHint() const
{
    // The base hint counts the frame, the buttons and a blank; add the value text to it.
    QSize hint = QAbstractSpinBox::sizeHint();
    hint.rwidth() += fontMetrics().horizontalAdvance(WidestText());
    return hint;
}

QSize TUpdownNumberEdit::minimumSizeHint() const
{
    QSize hint = QAbstractSpinBox::minimumSizeHint();
    hint.setWidth(std::max(hint.width(), sizeHint().width()));
    return hint;
}

void TUpdownNumberEdit::Commit()
{
    SetValue(Value());
}

void TUpdownNumberEdit::stepBy(int steps)
{
    SetValue(std::trunc(Value()) + steps);
    selectAll();
}

QAbstractSpinBox::StepEnabled TUpdownNumberEdit::stepEnabled() const
{
    const double v = Value();
    StepEnabled enabled = StepNone;
    const bool bounded = m_limited || m_hex;
    const double low = m_limited ? m_min : 0.0;
    const double high = m_limited ? m_max : kPatternMax;
    if (!bounded || v < high)
        enabled |= StepUpEnabled;
    if (!bounded || v > low)
        enabled |= StepDownEnabled;
    return enabled;
}

QValidator::State TUpdownNumberEdit::validate(QString& input, int& /*pos*/) const
{
    static const QRegularExpression hexTyping(QStringLiteral("^[0-9A-Fa-f]{0,8}$"));
    static const QRegularExpression decimalTyping(QStringLiteral("^[+-]?[0-9]*(\\.[0-9]*)?$"));
    const QString t = input.trimmed();
    if (!(m_hex ? hexTyping : decimalTyping).match(t).hasMatch())
        return QValidator::Invalid;
    // Out-of-range numbers may be typed; the limits apply when the value is taken.
    return Parse(t) ? QValidator::Acceptable : QValidator::Intermediate;
}

void TUpdownNumberEdit::fixup(QString& input) const
{
    input = Format(Bound(Parse(input).value_or(m_value)));
}

// ---- TRadioGroup

TRadioGroup::TRadioGroup(const QString& objectName, const QString& title, const QStringList& items,
                         int columns, QWidget* parent)
    : QGroupBox(title, parent)
    , m_group(new QButtonGroup(this))
{
    setObjectName(objectName);
    auto* layout = new QGridLayout(this);
    columns = std::max(columns, 1);
    const int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        button->setObjectName(objectName + QLatin1Char('_') + QString::number(i));
        m_group->addButton(button, i);
        // Filled column by column.
        layout->addWidget(button, rows ? i % rows : 0, rows ? i / rows : 0);
    }
}

int TRadioGroup::ItemIndex() const
{
    return m_group->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= Count())
        index = Count() - 1;
    if (index >= 0) {
        m_group->button(index)->setChecked(true);
        return;
    }
    m_group->setExclusive(false);
    for (QAbstractButton* button : m_group->buttons())
        button->setChecked(false);
    m_group->setExclusive(true);
}

int TRadioGroup::Count() const
{
    return static_cast<int>(m_group->buttons().size());
}

QRadioButton* TRadioGroup::Item(int index) const
{
    return qobject_cast<QRadioButton*>(m_group->button(index));
}

// ---- TFileDrop

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

// ---- TConfig1Dlg

TConfig1Dlg::TConfig1Dlg(UserInteraction& ui, QWidget* parent)
    : QDialog(parent)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("Config1Dlg"));
    setWindowTitle(QStringLiteral("プログラムの設定"));
    resize(487, 474);
    OpenFile = [](QWidget* owner, const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(owner, QString(), folder, filter);
    };

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));

    // Page "USB/RS232C": the serial flashing options.
    TS_USB = new QWidget;
    TS_USB->setObjectName(QStringLiteral("TS_USB"));
    Edesptool = new QLineEdit(TS_USB);
    Edesptool->setObjectName(QStringLiteral("Edesptool"));
    SBesptool = BrowseButton(QStringLiteral("SBesptool"), TS_USB);
    RGSPISpeed = new TRadioGroup(QStringLiteral("RGSPISpeed"), QStringLiteral("SPI Speed"),
                                 {QStringLiteral("80MHz"), QStringLiteral("40MHz")}, 1, TS_USB);
    RGSPIMode = new TRadioGroup(
        QStringLiteral("RGSPIMode"), QStringLiteral("SPI Mode"),
        {QStringLiteral("QIO"), QStringLiteral("DIO"), QStringLiteral("QOUT"), QStringLiteral("DOUT")}, 1,
        TS_USB);
    RGUploadSpeed =
        new TRadioGroup(QStringLiteral("RGUploadSpeed"), QStringLiteral("Upload Speed"),
                        {QStringLiteral("921600"), QStringLiteral("115200"), QStringLiteral("256000"),
                         QStringLiteral("230400"), QStringLiteral("512000"), QStringLiteral("1500000")},
                        1, TS_USB);
    CB_fBoot = new QCheckBox(QStringLiteral("bootloader"), TS_USB);
    CB_fBoot->setObjectName(QStringLiteral("CB_fBoot"));
    CBUseSpiffs = new QCheckBox(QStringLiteral("spiffs"), TS_USB);
    CBUseSpiffs->setObjectName(QStringLiteral("CBUseSpiffs"));
    GroupBox3 = new QGroupBox(TS_USB);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    StaticText5 =
        Label(QStringLiteral("StaticText5"), QStringLiteral("Partition Tables(CSV File)"), GroupBox3);
    EdPartationFile = new QLineEdit(GroupBox3);
    EdPartationFile->setObjectName(QStringLiteral("EdPartationFile"));
    BTPartationFile = BrowseButton(QStringLiteral("BTPartationFile"), GroupBox3);
    StaticText6 = Label(QStringLiteral("StaticText6"), QStringLiteral("Offset(HEX)"), GroupBox3);
    EdspiffsOffset = new TUpdownNumberEdit(GroupBox3);
    EdspiffsOffset->setObjectName(QStringLiteral("EdspiffsOffset"));
    EdspiffsOffset->SetHexadecimal(true);

    {
        auto* page = new QVBoxLayout(TS_USB);
        auto* toolRow = new QHBoxLayout;
        toolRow->addWidget(Label(QStringLiteral("StaticText1"), QStringLiteral("esptool"), TS_USB));
        toolRow->addWidget(Edesptool, 1);
        toolRow->addWidget(SBesptool);
        page->addLayout(toolRow);
        auto* groups = new QHBoxLayout;
        auto* left = new QVBoxLayout;
        left->addWidget(RGSPISpeed);
        left->addWidget(RGSPIMode);
        left->addStretch(1);
        groups->addLayout(left);
        groups->addWidget(RGUploadSpeed, 0, Qt::AlignTop);
        auto* boxes = new QVBoxLayout;
        boxes->addWidget(CB_fBoot);
        boxes->addWidget(CBUseSpiffs);
        boxes->addStretch(1);
        groups->addLayout(boxes);
        page->addLayout(groups);
        auto* spiffs = new QGridLayout(GroupBox3);
        spiffs->addWidget(StaticText5, 0, 0, 1, 2);
        spiffs->addWidget(EdPartationFile, 1, 0);
        spiffs->addWidget(BTPartationFile, 1, 1);
        auto* offsetRow = new QHBoxLayout;
        offsetRow->addWidget(StaticText6);
        offsetRow->addWidget(EdspiffsOffset);
        offsetRow->addStretch(1);
        spiffs->addLayout(offsetRow, 2, 0, 1, 2);
        page->addWidget(GroupBox3);
        page->addStretch(1);
    }

    // Page "OTA": the uploader and the board's Wi-Fi and network parameters.
    TS_OTA = new QWidget;
    TS_OTA->setObjectName(QStringLiteral("TS_OTA"));
    Edespota = new QLineEdit(TS_OTA);
    Edespota->setObjectName(QStringLiteral("Edespota"));
    SBEdespota = BrowseButton(QStringLiteral("SBEdespota"), TS_OTA);
    CBAPMode = new QCheckBox(QStringLiteral("APモード"), TS_OTA);
    CBAPMode->setObjectName(QStringLiteral("CBAPMode"));
    CBAPMode->setChecked(true);
    CBAPMode->setEnabled(false);
    GroupBox1 = new QGroupBox(QStringLiteral("WiFi 設定"), TS_OTA);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    CBSSID = new QComboBox(GroupBox1);
    CBSSID->setObjectName(QStringLiteral("CBSSID"));
    CBSSID->setEditable(true);
    CBSSID->setInsertPolicy(QComboBox::NoInsert);
    EdPass = new QLineEdit(GroupBox1);
    EdPass->setObjectName(QStringLiteral("EdPass"));
    EdPass->setEchoMode(QLineEdit::Password);
    EdPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    GroupBox2 = new QGroupBox(QStringLiteral("TCP/IP 設定"), TS_OTA);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    RGDHCP2 =
        new TRadioGroup(QStringLiteral("RGDHCP2"), QStringLiteral("DHCP"),
                        {QStringLiteral("手動（IP指定）"), QStringLiteral("自動（DHCP）")}, 2, GroupBox2);
    EdTCIP1 = OctetField(QStringLiteral("EdTCIP1"), GroupBox2);
    EdTCIP2 = OctetField(QStringLiteral("EdTCIP2"), GroupBox2);
    EdTCIP3 = OctetField(QStringLiteral("EdTCIP3"), GroupBox2);
    EdTCIP4 = OctetField(QStringLiteral("EdTCIP4"), GroupBox2);
    EdTCPPort = new TUpdownNumberEdit(GroupBox2);
    EdTCPPort->setObjectName(QStringLiteral("EdTCPPort"));
    EdTCPPort->SetLimits(0, 65535);
    EdMask1 = OctetField(QStringLiteral("EdMask1"), GroupBox2);
    EdMask2 = OctetField(QStringLiteral("EdMask2"), GroupBox2);
    EdMask3 = OctetField(QStringLiteral("EdMask3"), GroupBox2);
    EdMask4 = OctetField(QStringLiteral("EdMask4"), GroupBox2);

    {
        auto* page = new QVBoxLayout(TS_OTA);
        auto* otaRow = new QHBoxLayout;
        otaRow->addWidget(Label(QStringLiteral("StaticText2"), QStringLiteral("espota"), TS_OTA));
        otaRow->addWidget(Edespota, 1);
        otaRow->addWidget(SBEdespota);
        page->addLayout(otaRow);
        page->addWidget(CBAPMode);
        auto* wifi = new QGridLayout(GroupBox1);
        wifi->addWidget(Label(QStringLiteral("StaticText3"), QStringLiteral("SSID"), GroupBox1), 0, 0);
        wifi->addWidget(CBSSID, 0, 1);
        wifi->addWidget(Label(QStringLiteral("StaticText4"), QStringLiteral("Password"), GroupBox1), 1, 0);
        wifi->addWidget(EdPass, 1, 1);
        page->addWidget(GroupBox1);
        auto* net = new QGridLayout(GroupBox2);
        net->addWidget(RGDHCP2, 0, 0, 1, 5);
        net->addWidget(Label(QStringLiteral("StaticText7"), QStringLiteral("IPアドレス"), GroupBox2), 1, 0);
        net->addWidget(EdTCIP1, 1, 1);
        net->addWidget(EdTCIP2, 1, 2);
        net->addWidget(EdTCIP3, 1, 3);
        net->addWidget(EdTCIP4, 1, 4);
        net->addWidget(Label(QStringLiteral("StaticText8"), QStringLiteral("ポート番号"), GroupBox2), 2, 0);
        net->addWidget(EdTCPPort, 2, 1, 1, 2);
        net->addWidget(Label(QStringLiteral("StaticText9"), QStringLiteral("ネットマスク"), GroupBox2), 3, 0);
        net->addWidget(EdMask1, 3, 1);
        net->addWidget(EdMask2, 3, 2);
        net->addWidget(EdMask3, 3, 3);
        net->addWidget(EdMask4, 3, 4);
        page->addWidget(GroupBox2);
        page->addStretch(1);
    }

    PageControl1->addTab(TS_USB, QStringLiteral("USB/RS232C"));
    PageControl1->addTab(TS_OTA, QStringLiteral("OTA"));
    PageControl1->setCurrentIndex(0);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("キャンセル"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

    auto* outer = new QVBoxLayout(this);
    outer->addWidget(PageControl1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    outer->addLayout(buttons);

    FileDrop1 = new TFileDrop(QStringLiteral("FileDrop1"), Edesptool);
    FileDrop2 = new TFileDrop(QStringLiteral("FileDrop2"), EdPartationFile);
    FileDrop3 = new TFileDrop(QStringLiteral("FileDrop3"), Edespota);

    connect(OKBtn, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
    // Also when the box is set by the program, so the group always matches the box.
    connect(CBUseSpiffs, &QCheckBox::toggled, this, &TConfig1Dlg::CBUseSpiffsClick);
    connect(SBesptool, &QPushButton::clicked, this, &TConfig1Dlg::SBesptoolClick);
    connect(SBEdespota, &QPushButton::clicked, this, &TConfig1Dlg::SBEdespotaClick);
    connect(BTPartationFile, &QPushButton::clicked, this, &TConfig1Dlg::BTPartationFileClick);
    connect(FileDrop1, &TFileDrop::Dropped, this, &TConfig1Dlg::FileDrop1Drop);
    connect(FileDrop2, &TFileDrop::Dropped, this, &TConfig1Dlg::FileDrop2Drop);
    connect(FileDrop3, &TFileDrop::Dropped, this, &TConfig1Dlg::FileDrop3Drop);

    CBUseSpiffsClick();
}

void TConfig1Dlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_placed)
        return;
    m_placed = true;
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TConfig1Dlg::reject()
{
    // Esc and the close box answer as the cancel button does.
    done(2);
}

void TConfig1Dlg::CBUseSpiffsClick()
{
    const bool on = CBUseSpiffs->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(StaticText5), static_cast<QWidget*>(EdPartationFile),
                       static_cast<QWidget*>(BTPartationFile), static_cast<QWidget*>(StaticText6),
                       static_cast<QWidget*>(EdspiffsOffset)})
        w->setEnabled(on);
}

void TConfig1Dlg::SBesptoolClick()
{
    const QString file = OpenFile(this, FolderOfPath(Edesptool->text()),
                                  QtFileFilter(QStringLiteral("esptool実行ファイル|*.exe")));
    if (!file.isEmpty())
        Edesptool->setText(NativePath(file));
}

void TConfig1Dlg::SBEdespotaClick()
{
    const QString file = OpenFile(this, FolderOfPath(Edespota->text()),
                                  QtFileFilter(QStringLiteral("espota実行ファイル|*.exe")));
    if (!file.isEmpty())
        Edespota->setText(NativePath(file));
}

void TConfig1Dlg::BTPartationFileClick()
{
    const QString current = EdPartationFile->text();
    const QString file = OpenFile(this, current.isEmpty() ? QString() : FolderOfPath(current),
                                  QtFileFilter(QStringLiteral("Partition Tablesファイル|*.csv")));
    if (file.isEmpty())
        return;
    EdPartationFile->setText(NativePath(file));
    ReadSpiffsOffset(file);
}

void TConfig1Dlg::BringToFront()
{
    raise();
    activateWindow();
}

void TConfig1Dlg::DropExecutable(QLineEdit* field, const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    BringToFront();
    if (QFileInfo(paths.first()).isFile())
        field->setText(NativePath(paths.first()));
    else
        m_ui.Beep();
}

void TConfig1Dlg::FileDrop1Drop(const QStringList& paths)
{
    DropExecutable(Edesptool, paths);
}

void TConfig1Dlg::FileDrop3Drop(const QStringList& paths)
{
    DropExecutable(Edespota, paths);
}

void TConfig1Dlg::FileDrop2Drop(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    BringToFront();
    const QFileInfo info(paths.first());
    // Something that is no file cannot be read as a table either: the beep is all.
    if (!info.isFile()) {
        m_ui.Beep();
        return;
    }
    if (QString::compare(info.suffix(), QStringLiteral("csv"), Qt::CaseInsensitive) != 0) {
        MessageRequest request;
        request.text = CsvTypeMessage();
        request.icon = MsgIcon::Error;
        request.buttons = MsgButtons::Ok;
        m_ui.Message(request);
        return;
    }
    EdPartationFile->setText(NativePath(paths.first()));
    ReadSpiffsOffset(paths.first());
}

bool TConfig1Dlg::ReadSpiffsOffset(const QString& path)
{
    QFile file(path);
    QByteArray bytes;
    bool ok = file.open(QIODevice::ReadOnly);
    if (ok) {
        bytes = file.readAll();
        ok = file.error() == QFileDevice::NoError;
    }
    if (!ok) {
        MessageRequest request;
        request.text =
            QStringLiteral("ファイル \"%1\" を開けません。\n%2").arg(NativePath(path), file.errorString());
        request.icon = MsgIcon::Error;
        request.buttons = MsgButtons::Ok;
        m_ui.Message(request);
        return false;
    }
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    std::optional<int> offset;
    for (const QString& line : DecodeText(bytes).split(lineBreak)) {
        const QStringList fields = SplitCommaText(line);
        if (fields.size() >= 5 &&
            QString::compare(fields.at(2), QStringLiteral("spiffs"), Qt::CaseInsensitive) == 0)
            offset = ParseIniInteger(fields.at(3)).value_or(0);
    }
    if (offset)
        EdspiffsOffset->SetValue(static_cast<std::uint32_t>(*offset));
    return true;
}

// ---- helpers

QString QtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns)
            p = p.trimmed();
        entries.append(parts.at(i) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')'));
    }
    return entries.join(QStringLiteral(";;"));
}

QStringList SplitCommaText(const QString& line)
{
    auto blank = [](QChar c) { return c.unicode() >= 1 && c.unicode() <= 0x20; };
    QStringList fields;
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n && blank(line.at(i)))
        ++i;
    while (i < n) {
        QString field;
        if (line.at(i) == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (line.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && line.at(i + 1) == QLatin1Char('"')) {
                        field.append(QLatin1Char('"'));
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field.append(line.at(i++));
            }
        } else {
            const qsizetype start = i;
            while (i < n && !blank(line.at(i)) && line.at(i) != QLatin1Char(','))
                ++i;
            field = line.mid(start, i - start);
        }
        fields.append(field);
        while (i < n && blank(line.at(i)))
            ++i;
        if (i < n && line.at(i) == QLatin1Char(',')) {
            // A comma at the very end still closes an empty last field.
            if (i + 1 == n)
                fields.append(QString());
            do
                ++i;
            while (i < n && blank(line.at(i)));
        }
    }
    return fields;
}

QString FolderOfPath(const QString& path)
{
    qsizetype cut = path.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    cut = std::max({cut, path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char(':'))});
#endif
    return cut < 0 ? QString() : path.left(cut + 1);
}

// ---- MnSetConfigClick

void MnSetConfigClick(AppCore& app, QWidget* owner, const std::function<int(TConfig1Dlg&)>& exec)
{
    TOptionSettings& s = app.Settings;
    TCPIPPARAM& net = app.NetParams;

    TConfig1Dlg dlg(app.Ui, owner);
    Config1Dlg = &dlg;
    struct Forget {
        ~Forget() { Config1Dlg = nullptr; }
    } forget;

    dlg.CBUseSpiffs->setChecked(s.fWrSpiffs != 0);
    dlg.Edesptool->setText(s.App_ESPTool);
    dlg.Edespota->setText(s.App_ESPOta);
    dlg.EdPartationFile->setText(s.PartitionTables);
    dlg.EdspiffsOffset->SetValue(s.SpiffSOffset);
    dlg.RGSPISpeed->SetItemIndex(s.SPISpeed);
    dlg.RGSPIMode->SetItemIndex(s.SPIMode);
    dlg.RGUploadSpeed->SetItemIndex(s.UploadSpeed);
    ShowOctets(net.IPAddr, dlg.EdTCIP1, dlg.EdTCIP2, dlg.EdTCIP3, dlg.EdTCIP4);
    dlg.EdTCPPort->SetValue(net.Port);
    ShowOctets(net.NetMask, dlg.EdMask1, dlg.EdMask2, dlg.EdMask3, dlg.EdMask4);
    dlg.CBSSID->clear();
    dlg.CBSSID->addItem(net.SSID);
    dlg.CBSSID->setCurrentIndex(0);
    dlg.EdPass->setText(net.Password);
    dlg.CBAPMode->setChecked(true);
    dlg.RGDHCP2->SetItemIndex((net.Flags >> 5) & 1);

    const int result = exec ? exec(dlg) : dlg.exec();
    if (result != 1)
        return;

    s.fWrSpiffs = dlg.CBUseSpiffs->isChecked() ? 1 : 0;
    s.App_ESPTool = dlg.Edesptool->text();
    s.App_ESPOta = dlg.Edespota->text();
    s.PartitionTables = dlg.EdPartationFile->text();
    // The offset is a 32-bit pattern, as the settings file keeps hexadecimal numbers.
    s.SpiffSOffset = static_cast<int>(static_cast<std::uint32_t>(dlg.EdspiffsOffset->IntValue()));
    s.SPISpeed = dlg.RGSPISpeed->ItemIndex();
    s.SPIMode = dlg.RGSPIMode->ItemIndex();
    s.UploadSpeed = dlg.RGUploadSpeed->ItemIndex();

    const std::uint32_t address = OctetsValue(dlg.EdTCIP1, dlg.EdTCIP2, dlg.EdTCIP3, dlg.EdTCIP4);
    const std::uint32_t mask = OctetsValue(dlg.EdMask1, dlg.EdMask2, dlg.EdMask3, dlg.EdMask4);
    const auto port = static_cast<std::uint16_t>(dlg.EdTCPPort->IntValue() & 0xFFFF);
    const unsigned apBit = dlg.CBAPMode->isChecked() ? 1 : 0;
    const unsigned dhcpBit = dlg.RGDHCP2->ItemIndex() == 1 ? 1 : 0;

    // Without an engine there is no board to write to: the outcome is a failure, not a crash.
    auto board = [&app](const std::function<bool(BoardCommands&)>& command) {
        if (!app.Engine())
            return false;
        BoardCommands commands = app.Commands();
        return command(commands);
    };

    bool ok = true;
    const QString ssid = dlg.CBSSID->currentText();
    const QString password = dlg.EdPass->text();
    if (ssid != net.SSID || password != net.Password) {
        net.SSID = ssid;
        net.Password = password;
        ok = board([&](BoardCommands& c) { return c.WriteWifiSettings(ssid, password, kBoardWaitMs); });
    }

    if (net.IPAddr != address || net.Port != port || ((net.Flags >> 6) & 1u) != apBit ||
        ((net.Flags >> 5) & 1u) != dhcpBit || net.NetMask != mask) {
        net.IPAddr = address;
        net.Port = port;
        net.Flags = static_cast<std::uint8_t>((net.Flags & ~0x60u) | apBit << 6 | dhcpBit << 5);
        net.NetMask = mask;
        s.TCPPort = net.Port;
        s.fTCPServer = static_cast<int>(net.IPAddr);
        s.TCPServPort = net.ServPort;
        s.TCPServAddr = QString::number(net.ServAddr);
        ok = board([&](BoardCommands& c) { return c.SetNetParams(net, kBoardWaitMs); });
    }

    app.AddLog(ok ? QStringLiteral("OK: 設定") : QStringLiteral("NG: 設定"), false);
}

} // namespace nx7
