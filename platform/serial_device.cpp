// SerialDevice keeps nothing of its own: every call goes to the state of the operating system's
// device (platform/posix/ or platform/win32/).
#include "platform/serial_device.h"

#if defined(_WIN32)
#include "platform/win32/serial_device_win32.h"
#else
#include "platform/posix/serial_device_posix.h"
#endif

namespace lumivex::platform {

SerialDevice::SerialDevice() : impl_(std::make_unique<Impl>()) {}
SerialDevice::~SerialDevice() = default;
bool SerialDevice::Open(const std::string& path) {
  return impl_->Open(path);
}
void SerialDevice::Close() {
  impl_->Close();
}
void SerialDevice::Release() {
  impl_->Release();
}
bool SerialDevice::IsOpen() const {
  return impl_->IsOpen();
}
bool SerialDevice::HungUp() const {
  return impl_->HungUp();
}
int SerialDevice::LastError() const {
  return impl_->LastError();
}
const std::string& SerialDevice::Path() const {
  return impl_->Path();
}
bool SerialDevice::GetLineSettings(LineSettings& settings) {
  return impl_->GetLineSettings(settings);
}
bool SerialDevice::SetLineSettings(const LineSettings& settings) {
  return impl_->SetLineSettings(settings);
}
bool SerialDevice::SetupQueues(uint32_t inputBytes, uint32_t outputBytes) {
  return impl_->SetupQueues(inputBytes, outputBytes);
}
bool SerialDevice::GetTimeouts(Timeouts& timeouts) {
  return impl_->GetTimeouts(timeouts);
}
bool SerialDevice::SetTimeouts(const Timeouts& timeouts) {
  return impl_->SetTimeouts(timeouts);
}
bool SerialDevice::Purge(uint32_t flags) {
  return impl_->Purge(flags);
}
bool SerialDevice::ClearErrors(uint32_t* errors, uint32_t* inputQueue) {
  return impl_->ClearErrors(errors, inputQueue);
}
bool SerialDevice::ClearBreak() {
  return impl_->ClearBreak();
}
bool SerialDevice::SetEventMask(uint32_t mask) {
  return impl_->SetEventMask(mask);
}
bool SerialDevice::WaitEvent(uint32_t& mask) {
  return impl_->WaitEvent(mask);
}
int32_t SerialDevice::Read(uint8_t* buffer, uint32_t count) {
  return impl_->Read(buffer, count);
}
int32_t SerialDevice::Write(const uint8_t* bytes, uint32_t count) {
  return impl_->Write(bytes, count);
}

}  // namespace lumivex::platform
