// The debugger window over the running machine: a BASIC line breakpoint stops the free BASIC,
// stepping and running go on from there, the views show the stopped machine, and closing the
// window lets the machine run on.
#include "shell/debugger_window.h"
#include "shell/display_widget.h"
#include "system/debugger.h"

#include "shell_test_support.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>

namespace {

class ShellDebuggerThreaded : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (IsSkipped()) return;
        if (!QFile::exists(LUNABRIK_TEST_RUN_DIR "/basic.rom.sym"))
            GTEST_SKIP() << "the ROM's symbol file is not built";
        folder.WriteFile("basic.rom.sym", ReadAll(LUNABRIK_TEST_RUN_DIR "/basic.rom.sym"));
    }
    DebuggerWindow* Open() {
        window->Action("debugger")->trigger();
        return window->findChild<DebuggerWindow*>("debuggerWindow");
    }
    static QString Status(DebuggerWindow* d) {
        return d->findChild<QLabel*>("debuggerStatus")->text();
    }
    static bool Lists(QListWidget* list, const QString& text) {
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text().contains(text)) return true;
        return false;
    }
};

TEST_F(ShellDebuggerThreaded, StopsTheBasicAtALineStepsAndRunsOn) {
    Start();
    DebuggerWindow* debugger = Open();
    ASSERT_TRUE(debugger);
    EXPECT_TRUE(debugger->isVisible());
    EXPECT_TRUE(DebugAttached());

    // What is not a breakpoint is said, and nothing is added.
    for (const char* bad : {"", "line x", "w", "in 100", "zz9q", "r 8000+"})
        EXPECT_FALSE(debugger->AddBreakpointFromText(bad)) << bad;
    EXPECT_TRUE(DebugBreakpoints().empty());

    ASSERT_TRUE(debugger->AddBreakpointFromText("line 20"));
    auto* breaks = debugger->findChild<QListWidget*>("breakpoints");
    ASSERT_EQ(breaks->count(), 1);
    EXPECT_TRUE(breaks->item(0)->text().contains("20"));

    window->Typist()->TypeText("10 A=7\r20 A=A+1\r30 GOTO 20\rRUN\r", "test");
    ASSERT_TRUE(WaitFor([&] { return Status(debugger).startsWith("Breakpoint"); }))
        << Status(debugger).toStdString();
    EXPECT_TRUE(Status(debugger).contains("BASIC line 20")) << Status(debugger).toStdString();
    EXPECT_TRUE(SystemPaused());

    // The stopped machine in every view: the PC marked in the disassembly and in the registers,
    // A's value among the BASIC's variables.
    StopInfo info;
    ASSERT_TRUE(DebugStanding(&info));
    const QString pc = QString("%1").arg(info.pc, 4, 16, QChar('0')).toUpper();
    EXPECT_TRUE(Lists(debugger->findChild<QListWidget*>("disassembly"), "▶ " + pc));
    auto* registers = debugger->findChild<QTableWidget*>("registers");
    bool pc_shown = false;
    for (int row = 0; row < registers->rowCount(); ++row)
        pc_shown |= registers->verticalHeaderItem(row)->text() == "PC" &&
                    registers->item(row, 0)->text() == "0x" + pc;
    EXPECT_TRUE(pc_shown);
    EXPECT_TRUE(Lists(debugger->findChild<QListWidget*>("basicVariables"), "A = 7"));
    EXPECT_GT(debugger->findChild<QListWidget*>("history")->count(), 0);

    // One step stops again at once. Run comes back to line 20 on the loop's next pass with A one
    // larger; when the step went into the clock's interrupt, its return to the line's start stops
    // there once more first.
    const uint64_t stops = DebugStopSerial();
    debugger->findChild<QPushButton*>("step")->click();
    ASSERT_TRUE(
        WaitFor([&] { return DebugStopSerial() > stops && Status(debugger).contains("step"); }));
    auto* run = debugger->findChild<QPushButton*>("run");
    auto* variables = debugger->findChild<QListWidget*>("basicVariables");
    for (int pass = 0; pass < 2 && !Lists(variables, "A = 8"); ++pass) {
        ASSERT_TRUE(WaitFor([&] { return run->isEnabled(); }));
        const uint64_t before = DebugStopSerial();
        run->click();
        ASSERT_TRUE(WaitFor([&] {
            return DebugStopSerial() > before && Status(debugger).startsWith("Breakpoint");
        })) << Status(debugger).toStdString();
        EXPECT_TRUE(Status(debugger).contains("BASIC line 20"));
    }
    EXPECT_TRUE(Lists(variables, "A = 8")) << variables->item(0)->text().toStdString();

    // Closing the window detaches: the program runs on.
    debugger->close();
    EXPECT_FALSE(DebugAttached());
    EXPECT_FALSE(SystemPaused());
    const uint64_t at = SystemReadCounts().instructions;
    EXPECT_TRUE(WaitFor([&] { return SystemReadCounts().instructions > at + 100000; }));
}

TEST_F(ShellDebuggerThreaded, MemoryAndRegisterEditsReachTheStoppedMachine) {
    Start();
    DebuggerWindow* debugger = Open();
    ASSERT_TRUE(debugger);
    debugger->findChild<QPushButton*>("pause")->click();
    ASSERT_TRUE(WaitFor([&] { return DebugStanding() && Status(debugger).contains("0x"); }));

    auto* at = debugger->findChild<QLineEdit*>("memoryAt");
    at->setText("8000");
    QTest::keyClick(at, Qt::Key_Return);
    auto* memory = debugger->findChild<QTableWidget*>("memory");
    memory->item(0, 3)->setText("A5");
    EXPECT_EQ(SystemPeek(0x8003), 0xA5);

    auto* registers = debugger->findChild<QTableWidget*>("registers");
    for (int row = 0; row < registers->rowCount(); ++row)
        if (registers->verticalHeaderItem(row)->text() == "HL")
            registers->item(row, 0)->setText("1234");
    uint32_t hl = 0;
    ASSERT_TRUE(DebugGetRegister("HL", hl));
    EXPECT_EQ(hl, 0x1234u);

    // A byte written into screen memory shows on the picture while the machine stands still.
    const QImage before = window->Display()->Picture();
    at->setText("7C00");
    QTest::keyClick(at, Qt::Key_Return);
    memory->item(0, 0)->setText(SystemPeek(0x7C00) == 0x7F ? "20" : "7F");
    EXPECT_TRUE(WaitFor([&] { return window->Display()->Picture() != before; }));
    EXPECT_TRUE(DebugStanding());

    // Where the window was is where it opens at the next start.
    debugger->resize(300, 200);
    debugger->move(17, 11);
    QApplication::processEvents();
    const QRect place = debugger->geometry();
    debugger->close();
    window->close();
    window.reset();
    Start();
    debugger = Open();
    ASSERT_TRUE(debugger);
    EXPECT_EQ(debugger->geometry(), place);
    debugger->close();
}

} // namespace
