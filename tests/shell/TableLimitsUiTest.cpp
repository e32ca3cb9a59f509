// Tables at the limits of size: typed, saved, read back and saved again.
#include <QFile>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <memory>

#include "MainWindowTestSupport.h"
#include "QtSettingsStore.h"

namespace kelvorin::mainwindowtest {
namespace {

using ::testing::_;
using ::testing::Return;

const QString kDataFilter = "Data file (*.dat)|*.dat|Text file (*.txt)|*.txt|All files (*.*)|*.*";

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class TableLimits : public ::testing::Test {
protected:
    void SetUp() override {
        SetDialogService(&dialogs);
        program = std::make_unique<Program>(settings);
        program->CTable.show();
        QApplication::processEvents();
    }
    void TearDown() override {
        program.reset();
        SetDialogService(nullptr);
    }
    TCTable& Window() { return program->CTable; }
    QStringList Report() { return Window().Memo1()->toPlainText().split('\n'); }

    // Table > New with ROWS x COLS cells typed from CELL(col, row).
    void TypeTable(int rows, int cols, const std::function<std::string(int, int)>& cell,
                   const std::function<void()>& weights = {}) {
        modals.When(&program->InputGrid, [=, this] {
            TextGrid& grid = program->InputGrid.Grid();
            grid.SetRowCount(rows);
            grid.SetColCount(cols);
            for (int i = 0; i < rows; ++i)
                for (int j = 0; j < cols; ++j) grid.SetCell(j, i, cell(j, i));
            program->InputGrid.Return1Click();
        });
        if (weights) modals.When(&program->ProGrid, weights);
        Window().New1Click();
        EXPECT_TRUE(modals.Done());
    }
    void SaveToNewFile(const QString& path) {
        EXPECT_CALL(dialogs, SaveFileName(_, QString("Data file (*.dat)|*.dat"), QString("dat"), _, true))
            .WillOnce(Return(path));
        Window().Item("tonewfile1")->trigger();
    }
    void ReadFromNewFile(const QString& path) {
        EXPECT_CALL(dialogs, OpenFileName(_, kDataFilter, QString("dat"), _)).WillOnce(Return(path));
        Window().fromnewfile1Click();
    }

    ::testing::StrictMock<MockDialogs> dialogs;
    MemorySettingsStore settings;
    QTemporaryDir folder;
    ModalDriver modals;
    std::unique_ptr<Program> program;
};

// The largest tables a file holds, typed (a 50 x 60 table; one row of 60
// categories and one column of 50 with weights typed, whole and decimal), are
// saved, read back as they were analysed and saved again byte for byte.
TEST_F(TableLimits, TheLargestTablesGoThroughSaveAndReadUnchanged) {
    AnalysisOptions options;
    options.ExaLRtest = options.CountPos = false;
    options.Expected = options.Column = options.Row = options.AppLRtest = options.AppCStest = true;
    program->Options.SetCurrent(options);
    const auto weights = [this](const std::function<std::string(int)>& weight) {
        return [this, weight] {
            TextGrid& grid = program->ProGrid.Grid();
            for (int k = 0; k < std::max(grid.RowCount(), grid.ColCount()); ++k)
                grid.ColCount() == 1 ? grid.SetCell(0, k, weight(k)) : grid.SetCell(k, 0, weight(k));
            program->ProGrid.Return1Click();
        };
    };
    struct Case {
        int Rows, Cols;
        std::function<std::string(int, int)> Cell;
        std::function<void()> Weights;
    };
    const Case cases[] = {
        {50, 60, [](int j, int i) { return std::to_string((i * 7 + j * 3) % 9 + 1); }, {}},
        {1, 60, [](int j, int) { return std::to_string(j + 1); }, weights([](int k) { return std::to_string(k % 3 + 1); })},
        {50, 1, [](int, int i) { return std::to_string(i * 20); }, weights([](int k) { return k % 2 ? "0.25" : "0.5"; })},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Rows * 100 + c.Cols);
        TypeTable(c.Rows, c.Cols, c.Cell, c.Weights);
        const QStringList typed = Report();
        ASSERT_GT(typed.size(), c.Rows + 3);
        const QString first = folder.filePath(QString("first%1.dat").arg(n));
        const QString second = folder.filePath(QString("second%1.dat").arg(n++));
        SaveToNewFile(first);
        ReadFromNewFile(first);
        EXPECT_EQ(Report().mid(2, typed.size() - 4), typed.mid(2, typed.size() - 4));
        SaveToNewFile(second);
        EXPECT_EQ(ReadAll(second), ReadAll(first));
        EXPECT_EQ(ReadAll(first).count('\n'), c.Rows + 1 + (c.Weights ? (c.Cols == 1 ? c.Rows : 1) + 1 : 0));
    }
}

// A file of many thousand lines (a table far beyond 50 rows, or as many lines
// of weights after a table of one row) is refused or passed over as a table
// of 51 rows is, without the grid windows growing a row per line.
TEST_F(TableLimits, ALongFileDoesNotGrowTheGridWindows) {
    const int many = 20000;
    const QByteArray longTable = QByteArray("1 2\n").repeated(many) + "\n";
    const QString path = folder.filePath("long.dat");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(longTable + "5 7 9\n\n" + QByteArray("1 1 1\n").repeated(many) + "\n3 4\n5 6\n\n");
    file.close();
    QTableWidget* entry = program->InputGrid.findChild<QTableWidget*>("StringGrid1");
    QTableWidget* weights = program->ProGrid.findChild<QTableWidget*>("StringGrid1");
    EXPECT_CALL(dialogs, ErrorAbort(_, "Data error reading file " + path));
    ReadFromNewFile(path);
    EXPECT_EQ(entry->rowCount(), 51);
    int most = 0;
    QObject::connect(weights->model(), &QAbstractItemModel::rowsInserted,
                     [&] { most = std::max(most, weights->rowCount()); });
    Window().fromsamefile1Click();
    EXPECT_EQ(Report()[3], QString("     5     7     9  |     21"));
    EXPECT_LE(most, 51);
    Window().fromsamefile1Click();
    EXPECT_EQ(Report()[3], QString("     3     4  |      7"));
}

}  // namespace
}  // namespace kelvorin::mainwindowtest
