// The serial traffic window: its lines, against the board's own log of what it received.
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "board/temperatures.h"
#include "protocol/commands.h"
#include "tests/ui_panel/panel_support.h"
#include "transport/link.h"
#include "transport/link_testing.h"
#include "ui/traffic_window.h"

namespace lumivex::ui::test {
namespace {

QStringList LinesOf(const CTrafficWindow& window) {
  QStringList lines;
  for (const std::string& line : window.Lines()) lines << QString::fromStdString(line);
  return lines;
}

using namespace std::chrono_literals;
using transport::LinkDirection;

TEST(TrafficLineTest, NamesTheRequestAndShowsHexAndPrintableBytes) {
  struct Row {
    std::vector<uint8_t> bytes;
    std::string name;
  };
  const Row rows[] = {
      {{0xE0, 0x05, 0x44, 0x05, 0xD2}, "ReadTemperatures"},
      {{0xE0, 0x0A, 0x41, 0x02, 1, 0, 2, 0, 3, 0}, "WriteLedCurrents"},
      {{0xE0, 0x03, 0x38}, "StartFirmwareUpgrade (short frame)"},
      {{0xE0, 0x05, 0x44, 0x99, 0x00}, "0x4499"},
      // Not a request: the length byte does not count these bytes, or no header.
      {{0xE0, 0x09, 0x44, 0x05, 0xD2}, ""},
      {{0x41, 0x63, 0x6B}, ""},
      {{0xE0}, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CommandName(row.bytes.data(), static_cast<uint32_t>(row.bytes.size())), row.name);
  }
  const uint8_t ack[] = {0x41, 0x63, 0x6B, 0x00};
  const std::string line = TrafficLine(1234, LinkDirection::kTaken, ack, 4, "SetFlip");
  EXPECT_EQ(line.substr(0, 18), "    1234 ms  RX  4");
  EXPECT_NE(line.find("41 63 6B 00"), std::string::npos) << line;
  EXPECT_NE(line.find("|Ack.|  SetFlip"), std::string::npos) << line;
  // Columns line up whatever the frame's length.
  const uint8_t one[] = {0xE0};
  EXPECT_EQ(TrafficLine(5, LinkDirection::kSent, one, 1, "").find('|'), line.find('|'));
}

// "   12 ms  TX  E0 05 44 05 D2   |..D..|  ReadTemperatures" into its parts.
struct ParsedLine {
  QString direction;
  QString hex;
  QString name;
};
ParsedLine Parse(const QString& line) {
  static const QRegularExpression pattern(
      QStringLiteral(R"(^\s*\d+ ms  (TX|RX)  ([0-9A-F ]+?)\s*\|.*\|(?:  (.*))?$)"));
  const QRegularExpressionMatch m = pattern.match(line);
  EXPECT_TRUE(m.hasMatch()) << line.toStdString();
  return {m.captured(1), m.captured(2), m.captured(3)};
}

QString Hex(const std::vector<uint8_t>& bytes) {
  QStringList parts;
  for (uint8_t b : bytes) parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
  return parts.join(QLatin1Char(' '));
}

TEST_F(PanelTest, TrafficWindowListsWhatTheBoardReceivedAndNamesEachAnswer) {
  auto board = StartBoard();
  CMainDialog& panel = OpenPanel();
  ConnectElsewhere();
  Pump(500ms);
  const std::size_t before = board->receivedFrames().size();
  panel.OpenTrafficWindow();
  CTrafficWindow* traffic = panel.TrafficWindow();
  ASSERT_NE(traffic, nullptr);
  EXPECT_TRUE(traffic->isVisible());

  board::ReadTemperatures();
  worker_.Run("Busy.Test", [] {
    protocol::SetFlip(1, 0);
    protocol::SetInputSource(1);
    uint16_t r = 0, g = 0, b = 0;
    protocol::ReadLedCurrents(r, g, b);
  });
  EXPECT_TRUE(PumpUntil([&] { return LinesOf(*traffic).size() >= 8; }, 2s));

  std::vector<std::vector<uint8_t>> frames = board->receivedFrames();
  frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(before));
  QStringList sent;
  QString lastRequest;
  for (const QString& line : LinesOf(*traffic)) {
    const ParsedLine parsed = Parse(line);
    if (parsed.direction == QStringLiteral("TX")) {
      sent << parsed.hex;
      lastRequest = parsed.name;
      EXPECT_FALSE(parsed.name.isEmpty()) << line.toStdString();
    } else {
      EXPECT_EQ(parsed.name, lastRequest) << line.toStdString();
    }
  }
  QStringList logged;
  for (const auto& frame : frames) logged << Hex(frame);
  EXPECT_EQ(sent, logged);
  ASSERT_EQ(LinesOf(*traffic).size(), 8);  // four requests, four answers
  EXPECT_TRUE(LinesOf(*traffic).front().contains(QStringLiteral("ReadTemperatures")));
  // Times count from the connection, made well before the window opened.
  EXPECT_GE(LinesOf(*traffic).front().simplified().split(' ')[0].toLongLong(), 500)
      << LinesOf(*traffic).front().toStdString();

  // Paused, lines wait; Clear empties; Save writes what is shown.
  static_cast<QAbstractButton*>(traffic->PauseButton())->click();
  worker_.Run("Busy.Test", [] { protocol::SetFlip(0, 0); });
  traffic->TakeNow();
  EXPECT_EQ(LinesOf(*traffic).size(), 8);
  static_cast<QAbstractButton*>(traffic->PauseButton())->click();
  EXPECT_EQ(LinesOf(*traffic).size(), 10);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("traffic.txt"));
  ASSERT_TRUE(traffic->SaveTo(path.toStdString()));
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(saved.readAll()), LinesOf(*traffic).join('\n') + '\n');
  EXPECT_FALSE(
      traffic->SaveTo(dir.filePath(QStringLiteral("no-such-folder/traffic.txt")).toStdString()));
  static_cast<QAbstractButton*>(traffic->ClearButton())->click();
  EXPECT_TRUE(LinesOf(*traffic).isEmpty());

  // Closed, the window hears nothing more.
  traffic->close();
  worker_.Run("Busy.Test", [] { protocol::SetFlip(1, 1); });
  traffic->TakeNow();
  EXPECT_TRUE(LinesOf(*traffic).isEmpty());
}

// A port whose every write completes at once.
class InstantPort : public transport::LinkPortSide {
 public:
  uint32_t Write(const uint8_t* /*bytes*/, uint32_t count) override {
    writeDone = 1;
    return count;
  }
};

TEST_F(PanelTest, TrafficWindowKeepsTheLastTenThousandLines) {
  static InstantPort port;
  transport::SetLinkPortResolver([]() -> transport::LinkPortSide* { return &port; });
  CTrafficWindow traffic;
  ASSERT_TRUE(traffic.CreateAsWindow());
  // Beyond what the window keeps, through the link's own trace hook.
  const int total = CTrafficWindow::kMaxLines + 500;
  for (int i = 0; i < total; ++i) {
    const uint8_t frame[] = {0xE0, 0x05, 0x41, 0x01, static_cast<uint8_t>(i & 0xFF)};
    transport::LinkSend(frame, sizeof frame);
    if (i % 3000 == 0) traffic.TakeNow();
  }
  traffic.TakeNow();
  transport::SetLinkPortResolver(nullptr);
  const QStringList lines = LinesOf(traffic);
  ASSERT_EQ(lines.size(), CTrafficWindow::kMaxLines);
  EXPECT_TRUE(lines.back().contains(
      QStringLiteral("E0 05 41 01 %1").arg((total - 1) & 0xFF, 2, 16, QLatin1Char('0')).toUpper()))
      << lines.back().toStdString();
  EXPECT_TRUE(lines.front().contains(
      QStringLiteral("E0 05 41 01 %1").arg(500 & 0xFF, 2, 16, QLatin1Char('0')).toUpper()))
      << lines.front().toStdString();
}

}  // namespace
}  // namespace lumivex::ui::test
