// Every language key the program shows. Captions of the dialog templates live in the templates.
#pragma once

namespace lumivex::key {

// Tab titles
constexpr char kTabLed[] = "Tab.Led";
constexpr char kTabInputSource[] = "Tab.InputSource";
constexpr char kTabTemperature[] = "Tab.Temperature";
constexpr char kTabFlip[] = "Tab.Flip";
constexpr char kTabSystem[] = "Tab.System";

// Connection controls
constexpr char kGeneralUart[] = "General.Uart";
constexpr char kUartOpen[] = "Uart.Open";
constexpr char kUartClose[] = "Uart.Close";

// LED page
constexpr char kLedOn[] = "Led.On";
constexpr char kLedOff[] = "Led.Off";
constexpr char kLedRed[] = "Led.Red";
constexpr char kLedGreen[] = "Led.Green";
constexpr char kLedBlue[] = "Led.Blue";
constexpr char kLedWhite[] = "Led.White";

// Message titles
constexpr char kWarningUartTitle[] = "WarningUart.Title";
constexpr char kWarningSystemTitle[] = "WarningSystem.Title";

// Connection messages
constexpr char kNotFinded[] = "WarningUart.NotFinded";
constexpr char kConnectFail[] = "WarningUart.ConnectFail";
constexpr char kConnectSuccess[] = "WarningUart.ConnectSuccess";
constexpr char kFirmwareOld[] = "WarningGeneral.FirmWareOld";

// Page messages
constexpr char kNotOpen[] = "WarningUart.NotOpen";
constexpr char kReadFail[] = "WarningUart.ReadFail";

// Status line and serial traffic window
constexpr char kStatusNotConnected[] = "Status.NotConnected";
constexpr char kStatusBaud[] = "Status.Baud";
constexpr char kStatusFirmware[] = "Status.Firmware";
constexpr char kMenuSerialTraffic[] = "Menu.SerialTraffic";
constexpr char kTrafficTitle[] = "Traffic.Title";
constexpr char kTrafficCopy[] = "Traffic.Copy";
constexpr char kTrafficSave[] = "Traffic.Save";
constexpr char kTrafficClear[] = "Traffic.Clear";
constexpr char kTrafficPause[] = "Traffic.Pause";
constexpr char kTrafficSaveFailed[] = "Traffic.SaveFailed";

// Firmware upgrade messages
constexpr char kInvalidFirmware[] = "WarningSystem.InvalidFirmWare";
constexpr char kInvalidFileName[] = "WarningSystem.InvalidFileName";
constexpr char kNotFindFile[] = "WarningSystem.NotFindFile";
constexpr char kNotFindDisk[] = "WarningSystem.NotFindDisk";
constexpr char kUpgradeFail[] = "WarningSystem.FirmWareUpgrateFail";
constexpr char kUpgradeSuccess[] = "WarningSystem.FirmWareUpgrateSuccess";
constexpr char kUpgradeTimeOut[] = "WarningSystem.UpgrateTimeOut";

// Temperature history window
constexpr char kHistoryMenu[] = "History.Menu";
constexpr char kHistoryTitle[] = "History.Title";
constexpr char kHistorySeconds[] = "History.Seconds";
constexpr char kHistoryLast10Minutes[] = "History.Last10Minutes";
constexpr char kHistoryLastHour[] = "History.LastHour";
constexpr char kHistorySession[] = "History.Session";
constexpr char kHistoryRed[] = "History.Red";
constexpr char kHistoryGreen[] = "History.Green";
constexpr char kHistoryBlue[] = "History.Blue";
constexpr char kHistoryBoard[] = "History.Board";
constexpr char kHistoryMinutes[] = "History.Minutes";
constexpr char kHistoryNoReadings[] = "History.NoReadings";
constexpr char kHistoryNotConnected[] = "History.NotConnected";
constexpr char kHistoryReadings[] = "History.Readings";
constexpr char kHistoryNoAnswer[] = "History.NoAnswer";
constexpr char kHistoryOverLimit[] = "History.OverLimit";
constexpr char kHistorySaveTitle[] = "History.SaveTitle";
constexpr char kHistorySaved[] = "History.Saved";
constexpr char kHistorySaveFailed[] = "History.SaveFailed";

// What the board layer is waiting for while an exchange runs (shown with the seconds elapsed)
constexpr char kBusyConnecting[] = "Busy.Connecting";
constexpr char kBusyDisconnecting[] = "Busy.Disconnecting";
constexpr char kBusyReadTemperatures[] = "Busy.ReadTemperatures";
constexpr char kBusySwitchingLight[] = "Busy.SwitchingLight";
constexpr char kBusyReadingCurrents[] = "Busy.ReadingCurrents";
constexpr char kBusyWritingCurrents[] = "Busy.WritingCurrents";
constexpr char kBusySettingColours[] = "Busy.SettingColours";
constexpr char kBusySettingInput[] = "Busy.SettingInput";
constexpr char kBusySettingFlip[] = "Busy.SettingFlip";
constexpr char kBusyStartingUpgrade[] = "Busy.StartingUpgrade";

// The connected port hung up (an unplugged adapter)
constexpr char kPortGone[] = "WarningUart.PortGone";

// Every key of the board layer, for checks that the language files carry them all.
constexpr const char* kBoardKeys[] = {kBusyConnecting,
                                      kBusyDisconnecting,
                                      kBusyReadTemperatures,
                                      kBusySwitchingLight,
                                      kBusyReadingCurrents,
                                      kBusyWritingCurrents,
                                      kBusySettingColours,
                                      kBusySettingInput,
                                      kBusySettingFlip,
                                      kBusyStartingUpgrade,
                                      kPortGone};

}  // namespace lumivex::key
