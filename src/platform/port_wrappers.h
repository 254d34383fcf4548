// Forwarding wrappers, one per port: each call goes to the wrapped provider. A test
// (or a front end) derives from one and overrides the calls it wants to change, for
// example to fail one call of a real provider, and leaves the rest as they are.
#pragma once

#include "platform/platform.h"

namespace ost {

class FilesWrapper : public FilePort {
 public:
  explicit FilesWrapper(FilePort& target) : target_(target) {}
  std::unique_ptr<File> OpenRead(const std::string& path) override {
    return target_.OpenRead(path);
  }
  std::unique_ptr<File> CreateTruncate(const std::string& path) override {
    return target_.CreateTruncate(path);
  }
  std::unique_ptr<File> CreateNew(const std::string& path) override {
    return target_.CreateNew(path);
  }
  std::unique_ptr<File> OpenAppend(const std::string& path) override {
    return target_.OpenAppend(path);
  }
  bool Exists(const std::string& path) override { return target_.Exists(path); }
  int64_t FileSize(const std::string& path) override { return target_.FileSize(path); }
  bool MakeFolders(const std::string& path) override { return target_.MakeFolders(path); }
  bool ListFolder(const std::string& path, std::vector<std::string>* names) override {
    return target_.ListFolder(path, names);
  }
  bool RemoveFolder(const std::string& path) override { return target_.RemoveFolder(path); }
  bool Rename(const std::string& from, const std::string& to) override {
    return target_.Rename(from, to);
  }
  bool Remove(const std::string& path) override { return target_.Remove(path); }
  bool IsLocalFixedPath(const std::string& path) override { return target_.IsLocalFixedPath(path); }
  std::string NativePath(const std::string& path) override { return target_.NativePath(path); }
  PathKind Kind(const std::string& path) override { return target_.Kind(path); }
  bool MakePrivateFolder(const std::string& path) override {
    return target_.MakePrivateFolder(path);
  }
  int LastError() override { return target_.LastError(); }

 protected:
  FilePort& target_;
};

class SocketsWrapper : public SocketPort {
 public:
  explicit SocketsWrapper(SocketPort& target) : target_(target) {}
  bool Startup() override { return target_.Startup(); }
  SocketHandle CreateTcp() override { return target_.CreateTcp(); }
  bool ResolveIpv4(const std::string& host, uint32_t* address) override {
    return target_.ResolveIpv4(host, address);
  }
  bool SetSendTimeout(SocketHandle s, uint32_t ms) override {
    return target_.SetSendTimeout(s, ms);
  }
  bool SetReceiveTimeout(SocketHandle s, uint32_t ms) override {
    return target_.SetReceiveTimeout(s, ms);
  }
  bool SetNonBlocking(SocketHandle s, bool on) override { return target_.SetNonBlocking(s, on); }
  bool Connect(SocketHandle s, uint32_t address, uint16_t port, uint32_t waitMs) override {
    return target_.Connect(s, address, port, waitMs);
  }
  int64_t Send(SocketHandle s, const void* data, size_t size) override {
    return target_.Send(s, data, size);
  }
  int64_t Receive(SocketHandle s, void* data, size_t size) override {
    return target_.Receive(s, data, size);
  }
  int64_t Peek(SocketHandle s, void* data, size_t size) override {
    return target_.Peek(s, data, size);
  }
  void Close(SocketHandle s) override { target_.Close(s); }

 protected:
  SocketPort& target_;
};

class RegistryWrapper : public RegistryPort {
 public:
  explicit RegistryWrapper(RegistryPort& target) : target_(target) {}
  long OpenKeyRead(RegistryRoot root, const std::string& path, RegistryKey* key) override {
    return target_.OpenKeyRead(root, path, key);
  }
  long QueryValue(RegistryKey key, const std::string& name, uint8_t* data,
                  uint32_t* size) override {
    return target_.QueryValue(key, name, data, size);
  }
  long CloseKey(RegistryKey key) override { return target_.CloseKey(key); }
  long SetStringValue(RegistryRoot root, const std::string& path, const std::string& name,
                      const std::string& value) override {
    return target_.SetStringValue(root, path, name, value);
  }

 protected:
  RegistryPort& target_;
};

class ServicesWrapper : public ServicesPort {
 public:
  explicit ServicesWrapper(ServicesPort& target) : target_(target) {}
  ServiceHandle OpenManager(ManagerAccess access) override { return target_.OpenManager(access); }
  ServiceHandle OpenServiceNamed(ServiceHandle manager, const std::string& name,
                                 ServiceAccess access) override {
    return target_.OpenServiceNamed(manager, name, access);
  }
  bool QueryState(ServiceHandle service, int32_t* state) override {
    return target_.QueryState(service, state);
  }
  bool Start(ServiceHandle service) override { return target_.Start(service); }
  bool Stop(ServiceHandle service, int32_t* state) override { return target_.Stop(service, state); }
  bool QueryBinaryPath(ServiceHandle service, size_t bufferChars, std::string* path) override {
    return target_.QueryBinaryPath(service, bufferChars, path);
  }
  void Close(ServiceHandle handle) override { target_.Close(handle); }
  ProcessHandle OpenOwnProcess(ServiceHandle service) override {
    return target_.OpenOwnProcess(service);
  }
  bool WaitProcessEnd(ProcessHandle process, uint32_t milliseconds) override {
    return target_.WaitProcessEnd(process, milliseconds);
  }
  void CloseProcess(ProcessHandle process) override { target_.CloseProcess(process); }
  std::vector<std::string> ActiveDependents(ServiceHandle service) override {
    return target_.ActiveDependents(service);
  }

 protected:
  ServicesPort& target_;
};

class SystemWrapper : public SystemPort {
 public:
  explicit SystemWrapper(SystemPort& target) : target_(target) {}
  ThreadHandle StartThread(std::function<void()> body) override {
    return target_.StartThread(std::move(body));
  }
  void Sleep(uint32_t milliseconds) override { target_.Sleep(milliseconds); }
  void Beep(uint32_t hertz, uint32_t milliseconds) override { target_.Beep(hertz, milliseconds); }
  std::string ProgramFolder() override { return target_.ProgramFolder(); }
  std::unique_ptr<uint8_t[]> AllocateBuffer(size_t size) override {
    return target_.AllocateBuffer(size);
  }
  bool LockMachine() override { return target_.LockMachine(); }
  uint64_t MonotonicMilliseconds() override { return target_.MonotonicMilliseconds(); }
  LocalTime Now() override { return target_.Now(); }
  int64_t UtcSeconds() override { return target_.UtcSeconds(); }
  std::string MachineName() override { return target_.MachineName(); }
  bool MachineProxy(std::string* proxy, std::string* bypass) override {
    return target_.MachineProxy(proxy, bypass);
  }

 protected:
  SystemPort& target_;
};

class WindowWrapper : public WindowPort {
 public:
  explicit WindowWrapper(WindowPort& target) : target_(target) {}
  void Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
    target_.Post(msg, wParam, lParam);
  }
  void PostQuit() override { target_.PostQuit(); }
  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxButtons buttons,
                           BoxIcon icon) override {
    return target_.ShowMessageBox(text, caption, buttons, icon);
  }
  void ShowAboutBox() override { target_.ShowAboutBox(); }
  bool AppendSystemMenuItem(uint32_t commandId, const std::string& text) override {
    return target_.AppendSystemMenuItem(commandId, text);
  }
  void SetWindowIcon() override { target_.SetWindowIcon(); }
  void EndDialog() override { target_.EndDialog(); }

 protected:
  WindowPort& target_;
};

}  // namespace ost
