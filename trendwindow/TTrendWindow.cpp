#include "trendwindow/TTrendWindow.h"

#include "acquisition/BlockReading.h"
#include "acquisition/DisplayFormat.h"
#include "trend/TrendCsv.h"
#include "trend/TrendHistory.h"
#include "trend/TrendReading.h"
#include "trendwindow/TTrendPlot.h"
#include "trendwindow/TrendLook.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMoveEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QSaveFile>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <array>
#include <cmath>

namespace {

QFont Arial(int px, bool bold = false) {
    QFont f("Arial");
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

QIcon Swatch(const QColor& colour) {
    QPixmap pixmap(14, 14);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

const char* const StatisticsHeadings[] = {"Канал", "Область", "N",      "Среднее",   "СКО",
                                          "Мин",   "Макс",    "Размах", "Последнее", "Перегрузки"};

} // namespace

TTrendWindow::TTrendWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), HistoryData(std::make_unique<TTrendHistory>()) {
    setObjectName("TrendForm");
    setWindowTitle("Тренд");
    setFont(Arial(15));
    BuildControls();
    // The table follows new blocks at most four times a second.
    StatisticsTimer = new QTimer(this);
    StatisticsTimer->setSingleShot(true);
    StatisticsTimer->setInterval(250);
    connect(StatisticsTimer, &QTimer::timeout, this, [this] { UpdateStatistics(); });
    // The layout is kept shortly after each change, so that a killed program
    // loses at most the last half second of it.
    LayoutTimer = new QTimer(this);
    LayoutTimer->setSingleShot(true);
    LayoutTimer->setInterval(500);
    connect(LayoutTimer, &QTimer::timeout, this, [this] { SaveLayout(); });
    for (QCheckBox* box : ChannelCheckBoxes)
        connect(box, &QCheckBox::toggled, LayoutTimer, qOverload<>(&QTimer::start));
    connect(AutoscaleCheckBox, &QCheckBox::toggled, LayoutTimer, qOverload<>(&QTimer::start));
    connect(LayoutComboBox, &QComboBox::currentIndexChanged, LayoutTimer, qOverload<>(&QTimer::start));
    resize(1200, 800);
}

TTrendWindow::~TTrendWindow() {
    if (isVisible())
        SaveLayout();
}

void TTrendWindow::BuildControls() {
    auto* top = new QHBoxLayout;
    LiveButton = new QPushButton("Вживую", this);
    LiveButton->setObjectName("LiveButton");
    LiveButton->setCheckable(true);
    LiveButton->setChecked(true);
    LiveButton->setToolTip("Следовать за последним блоком (End)");
    AllButton = new QPushButton("Вся история", this);
    AllButton->setObjectName("AllButton");
    AllButton->setToolTip("Показать всю историю (Home)");
    AutoscaleCheckBox = new QCheckBox("Автомасштаб", this);
    AutoscaleCheckBox->setObjectName("AutoscaleCheckBox");
    AutoscaleCheckBox->setChecked(true);
    LayoutComboBox = new QComboBox(this);
    LayoutComboBox->setObjectName("LayoutComboBox");
    LayoutComboBox->addItems({"Общая ось", "Полоса на канал"});
    ExportButton = new QPushButton("Экспорт CSV...", this);
    ExportButton->setObjectName("ExportButton");
    ExportButton->setToolTip("Сохранить видимый диапазон показанных каналов в файл CSV");
    for (QPushButton* b : {LiveButton, AllButton, ExportButton}) {
        QPalette p = b->palette();
        // Navy while usable; a disabled button keeps the platform's grey.
        for (auto group : {QPalette::Active, QPalette::Inactive})
            p.setColor(group, QPalette::ButtonText, QColor(0, 0, 128));
        b->setPalette(p);
    }
    top->addWidget(LiveButton);
    top->addWidget(AllButton);
    top->addWidget(AutoscaleCheckBox);
    top->addWidget(LayoutComboBox);
    top->addStretch();
    top->addWidget(ExportButton);

    Plot = new TTrendPlot(*HistoryData, this);
    Plot->setObjectName("TrendPlot");
    Plot->setToolTip("Перетаскивание: сдвиг; колесо, +/-: масштаб; правая кнопка: рамка; "
                     "стрелки: сдвиг; Home: вся история; End: вживую");

    auto* legend = new QVBoxLayout;
    auto* legendTitle = new QLabel("Каналы", this);
    legendTitle->setFont(Arial(15, true));
    legend->addWidget(legendTitle);
    for (int c = 0; c < TrendChannels; ++c) {
        auto* box = new QCheckBox(this);
        box->setObjectName(QString("TrendChannel%1CheckBox").arg(c + 1));
        box->setIcon(Swatch(TrendLook::ChannelColour(c)));
        box->setChecked(true);
        box->setToolTip("Показать или скрыть канал");
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) {
            Plot->SetShown(c, on);
            UpdateStatistics();
        });
        ChannelCheckBoxes[c] = box;
        legend->addWidget(box);
    }
    legend->addStretch();

    CursorLabel = new QLabel(" ", this);
    CursorLabel->setObjectName("CursorLabel");
    CursorLabel->setFont(Arial(13));
    CursorLabel->setWordWrap(true);

    StatisticsTable = new QTableWidget(0, int(std::size(StatisticsHeadings)), this);
    StatisticsTable->setObjectName("StatisticsTable");
    StatisticsTable->setFont(Arial(13));
    QStringList headings;
    for (const char* h : StatisticsHeadings)
        headings << h;
    StatisticsTable->setHorizontalHeaderLabels(headings);
    StatisticsTable->verticalHeader()->hide();
    StatisticsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StatisticsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    StatisticsTable->setMinimumHeight(150);

    auto* middle = new QHBoxLayout;
    middle->addWidget(Plot, 1);
    middle->addLayout(legend);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(BuildRecordRow());
    all->addLayout(middle, 3);
    all->addWidget(CursorLabel);
    all->addWidget(StatisticsTable, 1);

    connect(LiveButton, &QPushButton::toggled, Plot, [this](bool on) { Plot->SetLive(on); });
    connect(Plot, &TTrendPlot::LiveChanged, LiveButton, [this](bool on) { LiveButton->setChecked(on); });
    connect(AllButton, &QPushButton::clicked, Plot, [this] { Plot->ShowAll(); });
    connect(AutoscaleCheckBox, &QCheckBox::toggled, Plot, [this](bool on) { Plot->SetAutoscale(on); });
    connect(LayoutComboBox, &QComboBox::currentIndexChanged, Plot,
            [this](int i) { Plot->SetStacked(i == 1); });
    connect(ExportButton, &QPushButton::clicked, this, [this] { ExportClick(); });
    connect(Plot, &TTrendPlot::CursorText, CursorLabel,
            [this](const QString& text) { CursorLabel->setText(text.isEmpty() ? " " : text); });
    connect(Plot, &TTrendPlot::ViewChanged, this, [this] {
        if (!StatisticsTimer->isActive())
            StatisticsTimer->start();
    });
    UpdateLegend();
}

QWidget* TTrendWindow::BuildRecordRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel("Запись:", row));
    RecordFormatComboBox = new QComboBox(row);
    RecordFormatComboBox->setObjectName("RecordFormatComboBox");
    RecordFormatComboBox->addItems({"csv", "jsonl", "influx"});
    RecordFormatComboBox->setToolTip("Формат строк, как у km808-measure");
    RecordFileButton = new QPushButton("Файл...", row);
    RecordFileButton->setObjectName("RecordFileButton");
    RecordFileButton->setToolTip("Файл записи; к имени каждого файла добавляется время его начала");
    RecordLimitSpinBox = new QSpinBox(row);
    RecordLimitSpinBox->setObjectName("RecordLimitSpinBox");
    RecordLimitSpinBox->setRange(0, 1000000);
    RecordLimitSpinBox->setSuffix(" МБ");
    RecordLimitSpinBox->setSpecialValueText("без предела");
    RecordLimitSpinBox->setToolTip("Новый файл по достижении размера (и в полночь UTC)");
    RecordButton = new QPushButton("Запись", row);
    RecordButton->setObjectName("RecordButton");
    RecordButton->setCheckable(true);
    RecordButton->setToolTip("Начать или остановить запись; измерение при этом не прерывается");
    RecordStateLabel = new QLabel(row);
    RecordStateLabel->setObjectName("RecordStateLabel");
    for (QPushButton* b : {RecordFileButton, RecordButton}) {
        QPalette p = b->palette();
        // Navy while usable; a disabled button keeps the platform's grey.
        for (auto group : {QPalette::Active, QPalette::Inactive})
            p.setColor(group, QPalette::ButtonText, QColor(0, 0, 128));
        b->setPalette(p);
    }
    layout->addWidget(RecordFormatComboBox);
    layout->addWidget(RecordFileButton);
    layout->addWidget(new QLabel("Предел:", row));
    layout->addWidget(RecordLimitSpinBox);
    layout->addWidget(RecordButton);
    layout->addWidget(RecordStateLabel, 1);
    connect(RecordFileButton, &QPushButton::clicked, this, [this] { ChooseRecordFile(); });
    connect(RecordButton, &QPushButton::toggled, this, [this](bool on) { RecordButtonToggled(on); });
    ShowRecordState();
    return row;
}

bool TTrendWindow::ChooseRecordFile() {
    const QString path = QFileDialog::getSaveFileName(this, "Файл записи", RecordPath, "Все файлы (*)",
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return false;
    RecordPath = path;
    ShowRecordState();
    return true;
}

void TTrendWindow::RecordButtonToggled(bool on) {
    if (on && RecordPath.isEmpty() && !ChooseRecordFile()) {
        RecordButton->setChecked(false);
        return;
    }
    if (on && !Recording.Recording()) {
        const TOutputFormat formats[] = {TOutputFormat::Csv, TOutputFormat::Jsonl, TOutputFormat::Influx};
        Recording.Start(formats[RecordFormatComboBox->currentIndex()], RecordPath,
                        qint64(RecordLimitSpinBox->value()) * 1000000);
    } else {
        Recording.Stop();
    }
    for (QWidget* w : {static_cast<QWidget*>(RecordFormatComboBox), static_cast<QWidget*>(RecordFileButton),
                       static_cast<QWidget*>(RecordLimitSpinBox)})
        w->setEnabled(!on);
    ShowRecordState();
}

void TTrendWindow::ShowRecordState() {
    QPalette p = RecordStateLabel->palette();
    if (Recording.Recording()) {
        p.setColor(QPalette::WindowText, QColor(220, 0, 0));
        RecordStateLabel->setFont(Arial(15, true));
        const QString file =
            Recording.FileName().isEmpty() ? "ждёт блока" : QFileInfo(Recording.FileName()).fileName();
        RecordStateLabel->setText(QString("● ЗАПИСЬ  %1  —  %2 блоков, %3 КБ")
                                      .arg(file)
                                      .arg(Recording.Blocks())
                                      .arg(QString::number(double(Recording.Bytes()) / 1000.0, 'f', 1)));
    } else {
        p.setColor(QPalette::WindowText, QColor(90, 90, 90));
        RecordStateLabel->setFont(Arial(15));
        RecordStateLabel->setText(RecordPath.isEmpty() ? "файл не выбран"
                                                       : "остановлена; файл: " + RecordPath);
    }
    RecordStateLabel->setPalette(p);
}

void TTrendWindow::TakeReading(const TBlockReading& reading, const QString formats[6],
                               const TRecordOrigin& origin) {
    // The last reading shown again after a failure is no new block.
    for (const TChannelEntry& entry : reading.Channels)
        if (entry.Stale)
            return;
    TakeBlock(TrendBlockOf(reading, formats));
    if (!Recording.Recording())
        return;
    // Written once the hand-over has returned: the measurement then sleeps
    // through its lamp pause while the line goes to disk, instead of waiting
    // for the sync. Posted calls run in order, so the lines stay in order.
    std::array<QString, 6> copied;
    std::copy(formats, formats + 6, copied.begin());
    QMetaObject::invokeMethod(
        this, [this, reading, copied, origin] { Record(reading, copied.data(), origin); },
        Qt::QueuedConnection);
}

void TTrendWindow::Record(const TBlockReading& reading, const QString formats[6],
                          const TRecordOrigin& origin) {
    if (!Recording.Take(reading, formats, origin)) {
        // Told once, without waiting for the operator: the measurement that
        // handed the block over must go on. Modeless, since a window-modal box
        // here would also lock the main window (our parent) and its Stop.
        RecordButton->setChecked(false);
        auto* box = new QMessageBox(QMessageBox::Warning, "Ошибка записи!!!",
                                    Recording.Error() + "\nЗапись остановлена, измерение продолжается.",
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);
        box->show();
    }
    ShowRecordState();
}

void TTrendWindow::TakeBlock(const TTrendBlock& block) {
    HistoryData->Append(block);
    if (!isVisible())
        return;
    if (HistoryData->Segments().back().First + 1 == HistoryData->EndBlock())
        UpdateLegend();
    Plot->HistoryChanged();
}

void TTrendWindow::Open(const QString& layoutFile) {
    if (!LayoutLoaded) {
        LayoutFile = layoutFile;
        LayoutLoaded = true;
        LoadLayout();
    }
    UpdateLegend();
    Plot->HistoryChanged();
    UpdateStatistics();
    show();
    raise();
    activateWindow();
}

void TTrendWindow::UpdateLegend() {
    const bool any = !HistoryData->Empty();
    for (int c = 0; c < TrendChannels; ++c) {
        QString text = QString("Канал %1").arg(c + 1);
        if (any) {
            const TTrendSetup& setup = HistoryData->Segments().back().Setup[c];
            if (setup.Active)
                text += ", " + TrendLook::Unit(setup.Resistance);
        }
        ChannelCheckBoxes[c]->setText(text);
    }
}

void TTrendWindow::UpdateStatistics() {
    if (!isVisible())
        return;
    const TTrendHistory& h = *HistoryData;
    const qint64 first = Plot->FirstVisibleBlock();
    const qint64 end = Plot->EndVisibleBlock();
    const qint64 runStart = h.Empty() ? 0 : h.RunStartOf(h.EndBlock() - 1);
    struct TRow {
        int Channel;
        bool Run;
    };
    std::vector<TRow> rows;
    // Shown channels that measured in the run or the view.
    for (int c = 0; c < TrendChannels; ++c) {
        if (!Plot->Shown(c) || h.Empty())
            continue;
        const TTrendStats run = h.Stats(c, runStart, h.EndBlock());
        const TTrendStats view = h.Stats(c, first, end);
        if (run.Count + run.Over + view.Count + view.Over == 0)
            continue;
        rows.push_back({c, false});
        rows.push_back({c, true});
    }
    StatisticsTable->setRowCount(int(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
        const int c = rows[r].Channel;
        const qint64 a = rows[r].Run ? runStart : first;
        const qint64 b = rows[r].Run ? h.EndBlock() : end;
        const TTrendStats s = h.Stats(c, a, b);
        // The precision and unit of the newest block of the range.
        const TTrendSetup& setup = h.SegmentAt(std::max(a, b - 1)).Setup[c];
        auto number = [&](double v) { return s.Count ? FormatFloat(setup.Format, v) : QString("—"); };
        const double last = h.Last(c, a, b);
        const QString cells[] = {
            QString("%1, %2").arg(c + 1).arg(TrendLook::Unit(setup.Resistance)),
            rows[r].Run ? "с начала запуска" : "видимая",
            QString::number(s.Count),
            number(s.Mean),
            number(s.StdDev()),
            number(s.Min),
            number(s.Max),
            number(s.PeakToPeak()),
            std::isnan(last) ? QString("—") : FormatFloat(setup.Format, last),
            QString::number(s.Over),
        };
        for (int col = 0; col < int(std::size(cells)); ++col) {
            QTableWidgetItem* item = StatisticsTable->item(int(r), col);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(col < 2 ? Qt::AlignLeft | Qt::AlignVCenter
                                               : Qt::AlignRight | Qt::AlignVCenter);
                StatisticsTable->setItem(int(r), col, item);
            }
            item->setText(cells[col]);
            item->setForeground(col == 0 ? TrendLook::ChannelColour(c) : QColor(Qt::black));
        }
    }
}

void TTrendWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (LayoutTimer)
        LayoutTimer->start();
}

void TTrendWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (LayoutTimer)
        LayoutTimer->start();
}

void TTrendWindow::hideEvent(QHideEvent* event) {
    SaveLayout();
    QWidget::hideEvent(event);
}

void TTrendWindow::LoadLayout() {
    QSettings file(LayoutFile, QSettings::IniFormat);
    if (file.contains("Trend/Geometry"))
        restoreGeometry(file.value("Trend/Geometry").toByteArray());
    const QString shown = file.value("Trend/Channels").toString();
    for (int c = 0; c < TrendChannels; ++c)
        ChannelCheckBoxes[c]->setChecked(shown.size() != TrendChannels || shown[c] == '1');
    LayoutComboBox->setCurrentIndex(std::clamp(file.value("Trend/Layout", 0).toInt(), 0, 1));
    AutoscaleCheckBox->setChecked(file.value("Trend/Autoscale", true).toBool());
}

void TTrendWindow::SaveLayout() const {
    if (!LayoutLoaded)
        return;
    QSettings file(LayoutFile, QSettings::IniFormat);
    file.setValue("Trend/Geometry", saveGeometry());
    QString shown;
    for (const QCheckBox* box : ChannelCheckBoxes)
        shown += box->isChecked() ? '1' : '0';
    file.setValue("Trend/Channels", shown);
    file.setValue("Trend/Layout", LayoutComboBox->currentIndex());
    file.setValue("Trend/Autoscale", AutoscaleCheckBox->isChecked());
}

bool TTrendWindow::ExportVisible(const QString& path) {
    bool channels[TrendChannels];
    for (int c = 0; c < TrendChannels; ++c)
        channels[c] = Plot->Shown(c);
    QSaveFile file(path);
    const bool done =
        file.open(QIODevice::WriteOnly) &&
        WriteTrendCsv(*HistoryData, Plot->FirstVisibleBlock(), Plot->EndVisibleBlock(), channels, file) &&
        file.commit();
    if (!done)
        QMessageBox::warning(this, "Ошибка экспорта!!!", "Не удалось записать файл:\n" + path);
    return done;
}

void TTrendWindow::ExportClick() {
    const QString path =
        QFileDialog::getSaveFileName(this, "Экспорт видимого диапазона", QString(), "CSV (*.csv)");
    if (!path.isEmpty())
        ExportVisible(path);
}
