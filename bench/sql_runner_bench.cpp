// Runs one database script through the update tool's SQL runner on a machine root's
// product database, and prints how long the runner took.
// Usage: ost-sql-bench ROOT SCRIPT
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/update_dialog.h"
#include "platform/posix/machine_root.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/posix_sockets.h"
#include "platform/posix/posix_system.h"
#include "ui/memory_view.h"

namespace {

// Boxes would only come from a failed connection: print them.
class PrintingWindow : public ost::WindowPort {
 public:
  void Post(uint32_t, uintptr_t, intptr_t) override {}
  void PostQuit() override {}
  ost::BoxAnswer ShowMessageBox(const std::string& text, const std::string&, ost::BoxButtons,
                                ost::BoxIcon) override {
    std::fprintf(stderr, "box: %s\n", text.c_str());
    return ost::BoxAnswer::kOk;
  }
  void ShowAboutBox() override {}
  bool AppendSystemMenuItem(uint32_t, const std::string&) override { return false; }
  void SetWindowIcon() override {}
  void EndDialog() override {}
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ost-sql-bench ROOT SCRIPT\n");
    return 64;
  }
  std::ifstream in(argv[2], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string script = text.str();

  ost::MachineRoot root(argv[1]);
  root.UseOdbcConfiguration();
  ost::PosixFiles files(root);
  ost::PosixRegistry registry(root.RegistryFile());
  ost::PosixSockets sockets;
  ost::PosixSystem system(root.ProgramDir());
  ost::MemoryReportList list;
  ost::MemoryControls controls;
  PrintingWindow window;
  ost::Platform platform{&window, &list, &controls, &sockets, &registry, nullptr, &files, &system};
  ost::UpdateDialog dialog(platform, root.ProgramDir());
  dialog.progressList.EnableRowRecords(true);
  dialog.receiveBuffer = system.AllocateBuffer(ost::kReceiveBufferSize + 1);
  dialog.unpackBuffer = system.AllocateBuffer(ost::kUnpackBufferSize + 1);
  dialog.InsertRow(0, "1");
  dialog.currentRow = 0;
  if (!dialog.LoadServerConfig() || !dialog.OpenProductDatabase()) {
    std::fprintf(stderr, "cannot open the product database: %s\n", list.GetItemText(0, 3).c_str());
    return 1;
  }
  uLongf packed = ost::kReceiveBufferSize;
  if (compress(dialog.receiveBuffer.get(), &packed, reinterpret_cast<const Bytef*>(script.data()),
               script.size()) != Z_OK) {
    std::fprintf(stderr, "script too large\n");
    return 1;
  }
  dialog.job.receivedLength = static_cast<int32_t>(packed);

  auto start = std::chrono::steady_clock::now();
  bool ok = dialog.RunSqlScript();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s seconds %.6f\n", list.GetItemText(0, 3).c_str(), seconds);
  dialog.ReleaseProductDatabase();
  return ok ? 0 : 1;
}
