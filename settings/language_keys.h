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

// The connected port went away
constexpr char kPortGone[] = "WarningUart.PortGone";

}  // namespace lumivex::key
