#include "app/startup.h"

#include "app/run_id.h"
#include "app/texts.h"
#include "journal/journal.h"
#include "platform/crypto_port.h"
#include "signing/signed_index.h"
#include "system/config_store.h"
#include "update/backup.h"
#include "update/run_record.h"
#include "update/staging.h"
#include "util/text.h"

namespace ost {

Sha256Hex Sha256Of(const Platform& platform) {
  if (!platform.crypto) return {};
  CryptoPort* crypto = platform.crypto;
  return [crypto](ByteSpan bytes) {
    Sha256Digest digest;
    return crypto->Sha256(bytes, &digest) ? HexOf(ByteSpan{digest.bytes, kSha256Size})
                                          : std::string();
  };
}

int RunApplication(const Platform& platform, const std::function<void(UpdateDialog&)>& runModal,
                   RunObserver* observer, RunOptions options) {
  if (!platform.sockets->Startup()) {
    platform.window->ShowMessageBox(text::kNetworkInitFailed, text::kAppName, BoxButtons::kOk,
                                    BoxIcon::kWarning);
    return 1;
  }
  // One update run per machine: a second would stop the same services and run the
  // same scripts once more.
  if (!platform.system->LockMachine()) {
    platform.window->ShowMessageBox(text::kAlreadyRunning, text::kNotice, BoxButtons::kOk,
                                    BoxIcon::kStop);
    return 1;
  }
  // Every run leaves its journal in the program folder, and a backup of every file it
  // replaces.
  const std::string programDir = platform.system->ProgramFolder();
  // AutoRollback: a run killed half-way is recovered before anything else is updated.
  ServerConfig config;
  ReadServerConfig(*platform.registry, &config);
  if ((options.autoRollback || config.autoRollback) &&
      platform.files->Exists(RunRecordPath(programDir))) {
    RunRecordFile pending;
    ReadRunRecord(*platform.files, programDir, &pending);
    platform.window->ShowMessageBox(
        Format(text::kRecoverFirst, pending.runId.empty() ? "?" : pending.runId.c_str()),
        text::kNotice, BoxButtons::kOk, BoxIcon::kStop);
    return 1;
  }
  // Packages that killed runs left behind: under the lock no other run is using them.
  Staging::RemoveLeftovers(*platform.files, programDir + "staging");
  if (options.runId.empty()) options.runId = MakeRunId(*platform.system);
  const Sha256Hex digest = Sha256Of(platform);
  Journal journal(*platform.files, *platform.system, programDir, digest);
  BackupKeeper backups(*platform.files, programDir, options.runId, digest);
  backups.SetNote([&journal](const std::string& why) { journal.Note("BACKUP", why); });
  TeeObserver kept(backups, observer ? *observer : backups);
  TeeObserver all(journal, observer ? static_cast<RunObserver&>(kept) : backups);
  // A run killed half-way leaves its record; this run keeps its own.
  RunRecordKeeper record(*platform.files, programDir, options.runId, options.autoRollback);
  TeeObserver recorded(record, all);
  options.runRecord = &record;
  UpdateDialog dialog(platform, programDir, &recorded, options);
  journal.Begin(dialog.runId(), text::kToolVersion, options.journalProblem);
  runModal(dialog);
  return 0;
}

}  // namespace ost
