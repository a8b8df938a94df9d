#pragma once
// The names the suite's programs meet by: the product key and the values
// under it that no settings record owns, the per-program subkeys, and the
// named events. Registry paths keep the registry's "\\" separator.
namespace vardel {

// The product as the status text and the about box name it.
inline constexpr const char* kProductName = "Vardel Pellin";
inline constexpr const char* kProductVersion = "1.1";

// Under HKEY_LOCAL_MACHINE.
inline constexpr const char* kProductKey = "software\\Brindlecore\\Vardel";
inline constexpr const char* kBackupSetsSubkey = "backupsets";
inline constexpr const char* kBackupSetsKey = "software\\Brindlecore\\Vardel\\backupsets";

// Values of the product key written at installation or by single programs.
inline constexpr const char* kInstallDirValue = "InstallDir";      // text
inline constexpr const char* kDataPathValue = "DataPath";          // text
inline constexpr const char* kServerPortValue = "ServerPort";      // number
inline constexpr const char* kCurrentCycleValue = "CurrentCycle";  // number, the log file in use
inline constexpr const char* kCurrentVersionValue = "CurrentVersion";  // text
inline constexpr const char* kPlacementValue = "Placement";  // text, in a program's subkey

// Program subkeys of the product key (window placement, remembered values).
inline constexpr const char* kEditorProgram = "vardelcfg";
inline constexpr const char* kEditorScheduleProgram = "vardelcfgsched";
inline constexpr const char* kRestoreProgram = "vardelrestore";
inline constexpr const char* kAgendaProgram = "vardelagenda";
inline constexpr const char* kStarterProgram = "vardelgo";
inline constexpr const char* kWatchProgram = "vardelwatch";

// Named events (platform::NamedEvent).
// Pulsed by the editor after a save: the service and the tray reload.
inline constexpr const char* kReloadEventName = "Brindlecore_Vardel_vardeld";
// Set by the service for 100 ms once its socket listens: the tray connects.
inline constexpr const char* kServiceStartedEventName = "Brindlecore_Vardel_vardelnotify";

}  // namespace vardel
