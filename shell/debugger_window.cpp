#include "shell/debugger_window.h"

#include "shell/preferences.h"
#include "system/debugger.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace {

constexpr int DisassemblyLines = 32;
constexpr int LinesBeforePc = 6;
constexpr int MemoryRows = 16;
constexpr int PollMs = 50;
constexpr int MemoryRefreshPolls = 5;

// The registers the window shows: the table's listed ones, in its order.
std::vector<const RegisterEntry*> ShownRegisters() {
    std::vector<const RegisterEntry*> shown;
    for (const RegisterEntry& r : RegisterTable())
        if (r.listed) shown.push_back(&r);
    return shown;
}

QString Hex(uint32_t value, int digits) {
    return QString("%1").arg(value, digits, 16, QChar('0')).toUpper();
}

// An address as the debugger reads one: a symbol's name, or hexadecimal as in a machine-code
// monitor ("1234", "0x1234", "$1234", "1234h").
bool ParseAddress(const QString& text, uint32_t& value) {
    uint16_t address = 0;
    if (!DebugParseAddress(text.toStdString(), address)) return false;
    value = address;
    return true;
}

QString FlagsText(uint8_t f) {
    const char* names = "SZ5H3PNC";
    QString text;
    for (int bit = 7; bit >= 0; --bit)
        text += (f >> bit) & 1 ? QChar(names[7 - bit]) : QChar('-');
    return text;
}

// Start of the disassembly: a few instructions before pc when decoding from some address below
// it lands exactly on pc, else pc itself.
uint16_t DisassemblyStart(uint16_t pc) {
    constexpr int MostBack = 4 * LinesBeforePc;
    for (int back = MostBack; back > 0; --back) {
        const auto lines = DebugDisassemble(uint16_t(pc - back), MostBack + 1);
        for (size_t i = 1; i < lines.size() && lines[i - 1].address != pc; ++i)
            if (lines[i].address == pc)
                return lines[i - std::min<size_t>(i, LinesBeforePc)].address;
    }
    return pc;
}

} // namespace

DebuggerWindow::DebuggerWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("debuggerWindow");
    setWindowTitle("Lunabrik: debugger");
    BuildControls();
    poll_ = new QTimer(this);
    poll_->setInterval(PollMs);
    connect(poll_, &QTimer::timeout, this, [this] { Poll(); });
}

DebuggerWindow::~DebuggerWindow() { DebugDetach(); }

void DebuggerWindow::BuildControls() {
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto* layout = new QVBoxLayout(this);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const QString& text, QKeySequence key, auto slot) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setShortcut(key);
        b->setToolTip(key.toString(QKeySequence::NativeText));
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    run_ = button("run", "&Run", QKeySequence(Qt::Key_F5), [this] {
        if (DebugContinue()) SetRunning(true);
    });
    pause_ = button("pause", "&Pause", QKeySequence(Qt::Key_F6), [] { DebugPause(); });
    step_ = button("step", "&Step", QKeySequence(Qt::Key_F11), [this] {
        if (DebugStep(1)) SetRunning(true);
    });
    step_over_ = button("stepOver", "Step &over", QKeySequence(Qt::Key_F10), [this] {
        if (DebugStepOver()) SetRunning(true);
    });
    step_out_ = button("stepOut", "Step o&ut", QKeySequence(Qt::SHIFT | Qt::Key_F11), [this] {
        if (DebugStepOut()) SetRunning(true);
    });
    button("runTo", "Run &to line", QKeySequence(Qt::CTRL | Qt::Key_F10), [this] {
        QListWidgetItem* item = disassembly_->currentItem();
        if (item && DebugRunTo(uint16_t(item->data(Qt::UserRole).toUInt()))) SetRunning(true);
    });
    buttons->addStretch();
    button("loadSymbols", "Symbols...", {}, [this] {
        const QString path = QFileDialog::getOpenFileName(this, "Load symbols");
        if (path.isEmpty()) return;
        SymbolLoadReport report;
        if (DebugLoadSymbols(path.toStdString(), &report))
            Report(QString("%1 symbols loaded, %2 lines skipped")
                       .arg(report.loaded)
                       .arg(report.skipped));
        else
            Report(QString::fromStdString(report.error));
        Refresh();
    });
    layout->addLayout(buttons);

    status_ = new QLabel(this);
    status_->setObjectName("debuggerStatus");
    layout->addWidget(status_);

    auto* split = new QSplitter(Qt::Horizontal, this);
    auto* left = new QWidget(split);
    auto* left_layout = new QVBoxLayout(left);
    left_layout->setContentsMargins(0, 0, 0, 0);
    disassembly_at_ = new QLineEdit(left);
    disassembly_at_->setObjectName("disassemblyAt");
    disassembly_at_->setPlaceholderText("Disassemble at (empty: follow PC)");
    connect(disassembly_at_, &QLineEdit::returnPressed, this, [this] { Refresh(); });
    left_layout->addWidget(disassembly_at_);
    disassembly_ = new QListWidget(left);
    disassembly_->setObjectName("disassembly");
    disassembly_->setFont(fixed);
    disassembly_->setToolTip("Double-click a line to set or clear a breakpoint there");
    connect(disassembly_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        const uint16_t address = uint16_t(item->data(Qt::UserRole).toUInt());
        for (const Breakpoint& b : DebugBreakpoints())
            if (b.kind == BreakKind::Execute && b.address == address && b.basic_line < 0) {
                DebugRemoveBreakpoint(b.id);
                RefreshBreakpoints();
                RefreshDisassembly(uint16_t(disassembly_->item(0)->data(Qt::UserRole).toUInt()));
                return;
            }
        AddBreakpointFromText("0x" + Hex(address, 4));
    });
    left_layout->addWidget(disassembly_);

    shown_registers_ = ShownRegisters();
    const int register_rows = int(shown_registers_.size());
    registers_ = new QTableWidget(register_rows + 1, 1, split);
    registers_->setObjectName("registers");
    registers_->setFont(fixed);
    registers_->horizontalHeader()->hide();
    registers_->horizontalHeader()->setStretchLastSection(true);
    QStringList names;
    for (const RegisterEntry* r : shown_registers_)
        names << r->name;
    names << "Flags";
    registers_->setVerticalHeaderLabels(names);
    connect(registers_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (filling_ || item->row() >= int(shown_registers_.size())) return;
        WriteRegister(*shown_registers_[size_t(item->row())], item->text());
    });
    split->addWidget(left);
    split->addWidget(registers_);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(split, 3);

    tabs_ = new QTabWidget(this);
    auto* memory_page = new QWidget(tabs_);
    auto* memory_layout = new QVBoxLayout(memory_page);
    memory_at_ = new QLineEdit(memory_page);
    memory_at_->setObjectName("memoryAt");
    memory_at_->setPlaceholderText("Address or symbol");
    connect(memory_at_, &QLineEdit::returnPressed, this, [this] {
        uint32_t address = 0;
        if (!ParseAddress(memory_at_->text(), address)) return Report("Not an address");
        memory_base_ = uint16_t(address & 0xFFF0);
        RefreshMemory();
    });
    memory_layout->addWidget(memory_at_);
    memory_ = new QTableWidget(MemoryRows, 17, memory_page);
    memory_->setObjectName("memory");
    memory_->setFont(fixed);
    QStringList columns;
    for (int c = 0; c < 16; ++c)
        columns << Hex(c, 1);
    columns << "Text";
    memory_->setHorizontalHeaderLabels(columns);
    memory_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(memory_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!filling_) WriteMemoryCell(item->row(), item->column());
    });
    memory_layout->addWidget(memory_);
    tabs_->addTab(memory_page, "&Memory");

    auto* breaks_page = new QWidget(tabs_);
    auto* breaks_layout = new QVBoxLayout(breaks_page);
    auto* add_row = new QHBoxLayout;
    new_breakpoint_ = new QLineEdit(breaks_page);
    new_breakpoint_->setObjectName("newBreakpoint");
    new_breakpoint_->setPlaceholderText(
        "1A2B or symbol · line 20 · w 8000+2 · r / rw ADDR · in 38 · out FF · int · nmi"
        " · then: if A == 7");
    auto* add = new QPushButton("Add", breaks_page);
    auto add_typed = [this] {
        if (AddBreakpointFromText(new_breakpoint_->text())) new_breakpoint_->clear();
    };
    connect(new_breakpoint_, &QLineEdit::returnPressed, this, add_typed);
    connect(add, &QPushButton::clicked, this, add_typed);
    auto* remove = new QPushButton("Remove", breaks_page);
    connect(remove, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem* item = breakpoints_->currentItem())
            DebugRemoveBreakpoint(item->data(Qt::UserRole).toInt());
        RefreshBreakpoints();
    });
    add_row->addWidget(new_breakpoint_);
    add_row->addWidget(add);
    add_row->addWidget(remove);
    breaks_layout->addLayout(add_row);
    breakpoints_ = new QListWidget(breaks_page);
    breakpoints_->setObjectName("breakpoints");
    breakpoints_->setFont(fixed);
    connect(breakpoints_, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!filling_)
            DebugEnableBreakpoint(item->data(Qt::UserRole).toInt(),
                                  item->checkState() == Qt::Checked);
    });
    breaks_layout->addWidget(breakpoints_);
    tabs_->addTab(breaks_page, "&Breakpoints");
    connect(tabs_, &QTabWidget::currentChanged, this, [this, breaks_page](int) {
        if (tabs_->currentWidget() == breaks_page) new_breakpoint_->setFocus();
    });

    history_ = new QListWidget(tabs_);
    history_->setObjectName("history");
    history_->setFont(fixed);
    tabs_->addTab(history_, "PC &history");

    basic_ = new QListWidget(tabs_);
    basic_->setObjectName("basicVariables");
    basic_->setFont(fixed);
    tabs_->addTab(basic_, "B&ASIC");
    layout->addWidget(tabs_, 2);

    resize(760, 720);
}

void DebuggerWindow::showEvent(QShowEvent* event) {
    if (!DebugAttached()) {
        DebugAttach();
        // Our own ROM's names, when its symbol file lies beside the images.
        if (DebugSymbolCount() == 0) DebugLoadRomSymbols(".");
        seen_serial_ = DebugStopSerial();
    }
    standing_ = DebugStanding();
    SetRunning(!standing_);
    Refresh();
    poll_->start();
    QWidget::showEvent(event);
}

void DebuggerWindow::closeEvent(QCloseEvent* event) {
    SaveDebuggerGeometry(geometry());
    poll_->stop();
    DebugDetach();
    QWidget::closeEvent(event);
}

void DebuggerWindow::Poll() {
    const uint64_t serial = DebugStopSerial();
    const bool standing = DebugStanding();
    if (standing == standing_ && serial == seen_serial_) {
        // Memory can be read while the machine runs: the view follows it a few times a second.
        if (!standing && ++polls_ % MemoryRefreshPolls == 0 && tabs_->currentIndex() == 0)
            RefreshMemory();
        return;
    }
    if (serial != seen_serial_) message_.clear();
    seen_serial_ = serial;
    standing_ = standing;
    SetRunning(!standing);
    if (standing) Refresh();
}

void DebuggerWindow::SetRunning(bool running) {
    for (QPushButton* b : {run_, step_, step_over_, step_out_})
        b->setEnabled(!running);
    pause_->setEnabled(running);
    const auto edit = running
                          ? QAbstractItemView::NoEditTriggers
                          : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed;
    registers_->setEditTriggers(edit);
    memory_->setEditTriggers(edit);
    if (running) {
        standing_ = false;
        status_->setText("Running");
    }
}

QString DebuggerWindow::StatusText() const {
    StopInfo info;
    if (!DebugStanding(&info)) return "Running";
    QString where = "0x" + Hex(info.pc, 4);
    const std::string symbol = DebugSymbolize(info.pc);
    if (!symbol.empty()) where += " (" + QString::fromStdString(symbol) + ")";
    QString text;
    switch (info.reason) {
    case StopReason::None: text = "Paused at " + where; break;
    case StopReason::Breakpoint:
        text = QString("Breakpoint %1 at %2").arg(info.id).arg(where);
        break;
    case StopReason::Watch:
        text = QString("Watch %1: 0x%2 = 0x%3, now at %4")
                   .arg(info.id)
                   .arg(Hex(info.address, 4), Hex(info.value, 2), where);
        break;
    case StopReason::Io:
        text = QString("Port breakpoint %1: port 0x%2, 0x%3, now at %4")
                   .arg(info.id)
                   .arg(Hex(info.address, 2), Hex(info.value, 2), where);
        break;
    default: text = QString("Stopped (%1) at %2").arg(StopReasonName(info.reason), where); break;
    }
    const int32_t line = DebugBasicCurrentLine();
    if (line >= 0) text += QString(" · BASIC line %1").arg(line);
    if (!message_.isEmpty()) text += " · " + message_;
    return text;
}

void DebuggerWindow::Report(const QString& text) {
    message_ = text;
    status_->setText(StatusText());
}

void DebuggerWindow::Refresh() {
    StopInfo info;
    const bool standing = DebugStanding(&info);
    uint32_t at = 0;
    const bool fixed_place = ParseAddress(disassembly_at_->text(), at);
    if (standing || fixed_place) RefreshDisassembly(fixed_place ? uint16_t(at) : info.pc);
    RefreshRegisters();
    RefreshMemory();
    RefreshBreakpoints();
    RefreshHistory();
    RefreshBasic();
    status_->setText(StatusText());
}

void DebuggerWindow::RefreshDisassembly(uint16_t around) {
    DebugRegisters r{};
    const bool standing = DebugReadRegisters(r);
    std::vector<uint16_t> breaks;
    for (const Breakpoint& b : DebugBreakpoints())
        if (b.kind == BreakKind::Execute && b.enabled) breaks.push_back(b.address);
    disassembly_->clear();
    const uint16_t start =
        disassembly_at_->text().trimmed().isEmpty() ? DisassemblyStart(around) : around;
    for (const DisassemblyLine& line : DebugDisassemble(start, DisassemblyLines)) {
        const bool at_pc = standing && line.address == r.pc;
        const bool has_break =
            std::find(breaks.begin(), breaks.end(), line.address) != breaks.end();
        QString text = QString("%1%2 %3  %4  %5")
                           .arg(has_break ? "●" : " ", at_pc ? "▶" : " ", Hex(line.address, 4))
                           .arg(QString::fromStdString(line.hex), -12)
                           .arg(QString::fromStdString(line.text));
        // A jump, call or address operand that a symbol names gets the name beside it.
        const QRegularExpressionMatch operand =
            QRegularExpression("0x([0-9A-F]{4})").match(QString::fromStdString(line.text));
        if (operand.hasMatch()) {
            const std::string name =
                DebugSymbolAt(uint16_t(operand.captured(1).toUInt(nullptr, 16)));
            if (!name.empty()) text += "  ; " + QString::fromStdString(name);
        }
        if (!line.symbol.empty()) text = QString::fromStdString(line.symbol) + ":\n" + text;
        auto* item = new QListWidgetItem(text, disassembly_);
        item->setData(Qt::UserRole, line.address);
        if (at_pc) disassembly_->setCurrentItem(item);
    }
}

void DebuggerWindow::RefreshRegisters() {
    DebugRegisters r{};
    const bool standing = DebugReadRegisters(r);
    filling_ = true;
    const int rows = int(shown_registers_.size());
    for (int row = 0; row < rows; ++row) {
        const RegisterEntry& reg = *shown_registers_[size_t(row)];
        uint32_t value = 0;
        QString text = "-";
        if (standing && DebugGetRegister(reg.name, value))
            text = reg.width == RegisterWidth::Word   ? "0x" + Hex(value, 4)
                   : reg.width == RegisterWidth::Byte ? "0x" + Hex(value, 2)
                                                      : QString::number(value);
        auto* item = registers_->item(row, 0);
        if (!item) registers_->setItem(row, 0, item = new QTableWidgetItem);
        item->setText(text);
    }
    auto* flags = registers_->item(rows, 0);
    if (!flags) {
        flags = new QTableWidgetItem;
        flags->setFlags(flags->flags() & ~Qt::ItemIsEditable);
        registers_->setItem(rows, 0, flags);
    }
    flags->setText(standing ? FlagsText(uint8_t(r.af)) : "-");
    filling_ = false;
}

void DebuggerWindow::RefreshMemory() {
    filling_ = true;
    uint8_t bytes[MemoryRows * 16];
    DebugReadMemory(memory_base_, bytes, sizeof bytes);
    QStringList rows;
    for (int row = 0; row < MemoryRows; ++row) {
        rows << Hex(uint16_t(memory_base_ + row * 16), 4);
        QString text;
        for (int c = 0; c < 16; ++c) {
            const uint8_t b = bytes[row * 16 + c];
            auto* item = memory_->item(row, c);
            if (!item) memory_->setItem(row, c, item = new QTableWidgetItem);
            item->setText(Hex(b, 2));
            text += b >= 0x20 && b < 0x7F ? QChar(b) : QChar('.');
        }
        auto* item = memory_->item(row, 16);
        if (!item) {
            memory_->setItem(row, 16, item = new QTableWidgetItem);
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        }
        item->setText(text);
    }
    memory_->setVerticalHeaderLabels(rows);
    filling_ = false;
}

void DebuggerWindow::RefreshBreakpoints() {
    filling_ = true;
    breakpoints_->clear();
    for (const Breakpoint& b : DebugBreakpoints()) {
        auto* item = new QListWidgetItem(QString("%1  %2  (hits %3)")
                                             .arg(b.id, 3)
                                             .arg(QString::fromStdString(DescribeBreakpoint(b)))
                                             .arg(b.hits),
                                         breakpoints_);
        item->setData(Qt::UserRole, b.id);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(b.enabled ? Qt::Checked : Qt::Unchecked);
    }
    filling_ = false;
}

void DebuggerWindow::RefreshHistory() {
    history_->clear();
    const std::vector<uint16_t> pcs = DebugPcHistory();
    for (auto it = pcs.rbegin(); it != pcs.rend(); ++it) {
        QString text = "0x" + Hex(*it, 4);
        const std::string symbol = DebugSymbolize(*it);
        if (!symbol.empty()) text += "  " + QString::fromStdString(symbol);
        history_->addItem(text);
    }
}

void DebuggerWindow::RefreshBasic() {
    basic_->clear();
    std::vector<BasicVariable> variables;
    std::string error;
    if (!DebugBasicVariables(variables, &error)) {
        basic_->addItem(QString::fromStdString(error));
        return;
    }
    for (const BasicVariable& v : variables)
        basic_->addItem(QString::fromStdString(v.name + " = " + v.value));
    if (variables.empty()) basic_->addItem("(no variables)");
}

bool DebuggerWindow::AddBreakpointFromText(const QString& typed) {
    std::string error;
    Breakpoint b;
    const int id =
        ParseBreakpoint(typed.toStdString(), b, &error) ? DebugAddBreakpoint(b, &error) : 0;
    if (id == 0) {
        Report(QString::fromStdString(error));
        return false;
    }
    Report(QString("Breakpoint %1 set").arg(id));
    RefreshBreakpoints();
    if (disassembly_->count() > 0)
        RefreshDisassembly(uint16_t(disassembly_->item(0)->data(Qt::UserRole).toUInt()));
    return true;
}

void DebuggerWindow::WriteRegister(const RegisterEntry& reg, const QString& text) {
    uint32_t value = 0;
    bool ok = false;
    const QString t = text.trimmed();
    if (reg.width == RegisterWidth::Flag || reg.width == RegisterWidth::Mode)
        value = t.toUInt(&ok, 10);
    else
        ok = ParseAddress(t, value);
    if (!ok || !DebugSetRegister(reg.name, value))
        Report(QString("%1 cannot take %2").arg(reg.name, t));
    Refresh();
}

void DebuggerWindow::WriteMemoryCell(int row, int column) {
    if (column >= 16) return;
    bool ok = false;
    const uint32_t value = memory_->item(row, column)->text().trimmed().toUInt(&ok, 16);
    const uint16_t address = uint16_t(memory_base_ + row * 16 + column);
    const uint8_t byte = uint8_t(value);
    if (!ok || value > 0xFF || !DebugWriteMemory(address, &byte, 1))
        Report(QString("0x%1 not written: a byte is 00-FF and the machine must stand still")
                   .arg(Hex(address, 4)));
    Refresh();
}
