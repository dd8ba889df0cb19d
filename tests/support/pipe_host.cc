#include "tests/support/pipe_host.h"

#include <climits>
#include <iostream>

#include "bridge/packet_frame.h"

int32_t ValueOf(const CommPacket& packet) { return ValueFromText(packet.text).value_or(INT32_MIN); }

PipeHost::PipeHost(const std::string& folder, const std::string& pipeName, HostBehaviour behaviour)
    : end_(folder, pipeName, std::move(behaviour), this) {
  if (!end_.PrepareFifos()) return;
  thread_ = std::thread([this] {
    if (end_.Connect()) end_.Exchange();
  });
}

PipeHost::~PipeHost() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void PipeHost::OnPacket(const CommPacket& packet) {
  std::lock_guard<std::mutex> lock(mutex_);
  packets_.push_back(packet);
  arrived_.notify_all();
}

void PipeHost::OnNote(const std::string& note) { std::cerr << "pipe host: " << note << "\n"; }

std::vector<CommPacket> PipeHost::WaitForPackets(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  arrived_.wait_for(lock, timeout, [&] { return packets_.size() >= count; });
  return packets_;
}
