// The texts the acquisition run and its capture phases show, in one place so tests can name them.
#pragma once

namespace trawler::run_text {

// OpenAndCheck
inline constexpr char kPrinterOpenFailed[] = "Error: Printer open failed";
inline constexpr char kPrinterNotOnline[] =
    "Error: Printer is not Online.\nCheck Connection and Get Log Again.";

// The run
inline constexpr char kCreateLogFile[] = "Error: Create Log File";
inline constexpr char kWriteCommentToLog[] =
    "Error: WriteCommentToLog.\nClose the window and restart.";
inline constexpr char kMakeZlgFile[] = "Error: MakeZlgFile";
// Shown instead of overwriting a package of the same name from an earlier run in this minute.
inline constexpr char kPackageExists[] =
    "Error: The log file %s already exists.\nWait a minute and Get Log Again.";

// Version, clock and EEPROM phase
inline constexpr char kClockNotRead[] =
    "Communication Error. Get Log Again.\nIf failed, Check Connection and Reboot Printer and Try "
    "Again.\nIf failed, Restart your PC and Printer and Try Again.\n";
inline constexpr char kEepSendFailed[] =
    "Communication Error. Check Connection and Reboot Printer and Get Log Again.\nIf failed, "
    "Restart your PC and Printer and Try Again.\n(Error: EEP Read: Send command failed)";
inline constexpr char kEepReadFailed[] =
    "Communication Error. Check Connection and Reboot Printer and Get Log Again.\nIf failed, "
    "Restart your PC and Printer and Try Again.\n(Error: EEPROM read failed or command format is "
    "illegal)";
inline constexpr char kEepIdMismatch[] =
    "Communication Error. Reboot Printer and Get Log Again.\nIf failed, Restart your PC and "
    "Printer and Try Again.\n(EEPROM Block ID mismatch. Read ID=0x%04X)";
inline constexpr char kEepChecksumMismatch[] =
    "Communication Error. Check Connection and Reboot Printer and Get Log Again.\nIf failed, "
    "Restart your PC and Printer and Try Again.\n(EEPROM read data check sum mismatch. Read "
    "ID=0x%04X)";

// Log phase
inline constexpr char kLogRequestWriteError[] =
    "Error: LogRead: Log Data request command write error";
inline constexpr char kLogReadFailed[] =
    "Error: LogRead: Log Data read failed.\nCheck Connection and Get Log Again.";
inline constexpr char kLogReadTimeout[] = "Error: Log Data read timeout";
inline constexpr char kLogWriteFailed[] =
    "Error: Log Data write file failed. \nClose the window and restart.";

}  // namespace trawler::run_text
