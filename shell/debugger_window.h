// Machine > Debugger: a window over the core's debugger (system/debugger.h). Opening it attaches
// the debugger, closing it detaches (a stopped machine runs on). It shows the disassembly around
// PC, the registers, memory, the breakpoints, the PC history and the free BASIC's variables, and
// has Run, Pause, Step, Step over and Step out on the usual keys. It polls the debugger from the
// GUI thread; the machine runs on its own threads meanwhile.
#pragma once

#include <QWidget>

#include <cstdint>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;
class QTabWidget;
class QTimer;
struct RegisterEntry;

class DebuggerWindow : public QWidget {
  public:
    explicit DebuggerWindow(QWidget* parent);
    ~DebuggerWindow() override;

    // Adds a breakpoint from what a user types: "0x1234" or "1234h" or a symbol (execution),
    // "line 20" (a BASIC line), "r|w|rw ADDR[+LEN]" (a memory watch), "in|out PORT", "int",
    // "nmi". False with a message in the status line for anything else.
    bool AddBreakpointFromText(const QString& text);
    // The text of the status line ("Running", "Stopped at ...").
    QString StatusText() const;
    // Fills every view from the machine when it stands still.
    void Refresh();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void BuildControls();
    void Poll();
    void RefreshDisassembly(uint16_t pc);
    void RefreshRegisters();
    void RefreshMemory();
    void RefreshBreakpoints();
    void RefreshHistory();
    void RefreshBasic();
    void SetRunning(bool running);
    void WriteRegister(const RegisterEntry& reg, const QString& text);
    void WriteMemoryCell(int row, int column);
    void Report(const QString& text);

    QLabel* status_ = nullptr;
    QListWidget* disassembly_ = nullptr;
    QLineEdit* disassembly_at_ = nullptr; // empty: follow PC
    QTableWidget* registers_ = nullptr;
    QTableWidget* memory_ = nullptr;
    QLineEdit* memory_at_ = nullptr;
    QListWidget* breakpoints_ = nullptr;
    QLineEdit* new_breakpoint_ = nullptr;
    QListWidget* history_ = nullptr;
    QListWidget* basic_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QPushButton* run_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* step_ = nullptr;
    QPushButton* step_over_ = nullptr;
    QPushButton* step_out_ = nullptr;
    QTimer* poll_ = nullptr;
    uint64_t seen_serial_ = 0;
    int polls_ = 0;
    bool standing_ = false;
    std::vector<const RegisterEntry*> shown_registers_; // the rows of registers_, in order
    bool filling_ = false; // views being filled: edits are not the user's
    uint16_t memory_base_ = 0;
    QString message_;
};
