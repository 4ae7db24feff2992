#pragma once
// Forward declarations of the classes in update/:
// The update run, its window and its settings.

struct ContentRange;
struct DownloadStart;
struct InstalledSettings;
struct OfferVerdict;
struct OfferedSettings;
struct ResumeRecord;
struct SignedInstaller;
struct StartupSwitches;
class TFileDownload;
class TSignedFileCheck;
class TTransferProgress;
class TSettingsFile;
class TUpdateFrm;
class TUpdateLog;
class UpdateProxyResolver;
struct UpdaterEnvironment;
