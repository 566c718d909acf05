#include "tests/usbpio/fake_pipe_driver.h"

#include <algorithm>

#include "protocol/byte_order.h"

namespace usbpio_test {
namespace {

// Pipe tokens carry the board and the pipe number.
constexpr int32_t kPipesPerBoard = 16;

}  // namespace

std::vector<FakeEndpoint> layoutA() { return {{0x02, 64}, {0x86, 64}}; }
std::vector<FakeEndpoint> layoutB() { return {{0x81, 64}, {0x02, 64}}; }

std::vector<uint8_t> FakeBoard::configuration() const {
  if (!rawConfig.empty()) return rawConfig;
  std::vector<uint8_t> c = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
  c.insert(c.end(), {9, 4, 0, 0, static_cast<uint8_t>(endpoints.size()), 0xFF, 0, 0, 0});
  for (const FakeEndpoint& e : endpoints) {
    c.insert(c.end(), {7, 5, e.address, 2, static_cast<uint8_t>(e.maxPacket), static_cast<uint8_t>(e.maxPacket >> 8), 0});
  }
  protocol::writeLe16(c.data() + 2, static_cast<uint16_t>(c.size()));
  return c;
}

FakeBoard& FakePipeDriver::add(uint16_t vendor, uint16_t product, std::vector<FakeEndpoint> endpoints,
                               uint8_t boardId) {
  FakeBoard board;
  board.vendor = vendor;
  board.product = product;
  board.endpoints = std::move(endpoints);
  board.boardId = boardId;
  boards.push_back(board);
  return boards.back();
}

std::optional<std::string> FakePipeDriver::interfacePath(int member) {
  if (member < 0 || static_cast<size_t>(member) >= boards.size()) return std::nullopt;
  return "fake-" + std::to_string(member);
}

int32_t FakePipeDriver::openDevice(const std::string& path) {
  const int member = std::stoi(path.substr(5));
  FakeBoard& board = boards[static_cast<size_t>(member)];
  if (board.openFails) return usbpio::kNoToken;
  board.deviceOpen = true;
  return member;
}

void FakePipeDriver::closeDevice(int32_t device) { boards[static_cast<size_t>(device)].deviceOpen = false; }

bool FakePipeDriver::resetDevice(int32_t device) {
  FakeBoard& board = boards[static_cast<size_t>(device)];
  ++board.deviceResets;
  if (board.resetFailures > 0) {
    --board.resetFailures;
    return false;
  }
  return board.attached;
}

bool FakePipeDriver::getDescriptor(int32_t device, uint32_t type, uint8_t* out, size_t length) {
  const FakeBoard& board = boards[static_cast<size_t>(device)];
  std::vector<uint8_t> bytes;
  if (type == usbpio::kDeviceDescriptor) {
    bytes.assign(18, 0);
    bytes[0] = 18;
    bytes[1] = 1;
    protocol::writeLe16(bytes.data() + 8, board.vendor);
    protocol::writeLe16(bytes.data() + 10, board.product);
  } else {
    bytes = board.configuration();
  }
  if (length > bytes.size()) return false;
  std::copy(bytes.begin(), bytes.begin() + static_cast<long>(length), out);
  return true;
}

bool FakePipeDriver::queryAttached(int32_t device, uint32_t* attached) {
  *attached = boards[static_cast<size_t>(device)].attached ? 1 : 0;
  return true;
}

bool FakePipeDriver::getStatus(int32_t device, uint16_t recipient, uint16_t index, uint16_t* status) {
  FakeBoard& board = boards[static_cast<size_t>(device)];
  ++board.statusQueries;
  if (recipient == usbpio::kRecipientDevice) {
    if (board.statusFailures > 0) {
      --board.statusFailures;
      return false;
    }
    *status = 0;
    return true;
  }
  if (board.statusFailsAfterTransfer) return false;
  *status = 0;
  for (uint8_t address : board.halted) {
    if ((address & 0x0F) == index) *status = 1;
  }
  return true;
}

int32_t FakePipeDriver::openPipe(int32_t device, int pipeNumber) {
  FakeBoard& board = boards[static_cast<size_t>(device)];
  if (board.pipeOpenFails || static_cast<size_t>(pipeNumber) >= board.endpoints.size()) return usbpio::kNoToken;
  ++board.openPipes;
  return device * kPipesPerBoard + pipeNumber;
}

void FakePipeDriver::closePipe(int32_t pipe) {
  int number = 0;
  if (FakeBoard* board = boardOfPipe(pipe, &number)) --board->openPipes;
}

void FakePipeDriver::resetPipe(int32_t pipe) {
  int number = 0;
  FakeBoard* board = boardOfPipe(pipe, &number);
  board->pipeResets.push_back(number);
  board->halted.erase(board->endpoints[static_cast<size_t>(number)].address);
}

FakeBoard* FakePipeDriver::boardOfPipe(int32_t pipe, int* pipeNumber) {
  const int32_t member = pipe / kPipesPerBoard;
  if (pipe < 0 || static_cast<size_t>(member) >= boards.size()) return nullptr;
  *pipeNumber = pipe % kPipesPerBoard;
  return &boards[static_cast<size_t>(member)];
}

void FakePipeDriver::answer(FakeBoard& board, const std::vector<uint8_t>& packet) {
  if (packet.size() != 8) return;
  switch (packet[0]) {
    case 0x08:
      if (!board.silentIdentify) {
        board.replies.push_back({board.boardId, board.signature[0], board.signature[1], board.signature[2], 0, 0, 0, 0});
      }
      break;
    case 0x04: {
      if (!board.keepOutputsOnExchange) std::copy(packet.begin() + 4, packet.end(), board.outputs.begin());
      std::vector<uint8_t> reply(8);
      protocol::writeLe32(reply.data(), board.inputs);
      std::copy(board.outputs.begin(), board.outputs.end(), reply.begin() + 4);
      board.replies.push_back(reply);
      break;
    }
    case 0x02:
      std::copy(packet.begin() + 4, packet.end(), board.outputs.begin());
      break;
    default:
      break;
  }
}

usbpio::TransferOutcome FakePipeDriver::write(int32_t pipe, const uint8_t* data, size_t length, unsigned timeoutMs,
                                              size_t* moved) {
  int number = 0;
  FakeBoard* board = boardOfPipe(pipe, &number);
  *moved = 0;
  if (board == nullptr || (board->endpoints[static_cast<size_t>(number)].address & 0x80) != 0) {
    return usbpio::TransferOutcome::Failed;
  }
  if (board->neverCompletes) return usbpio::TransferOutcome::TimedOut;
  if (board->unplugDuringTransfer) board->attached = false;
  if (!board->attached || board->failTransfers || board->halted.count(board->endpoints[static_cast<size_t>(number)].address)) {
    return usbpio::TransferOutcome::Failed;
  }
  std::vector<uint8_t> bytes(data, data + length);
  board->writes.push_back(PipeWriteRecord{number, bytes, timeoutMs});
  answer(*board, bytes);
  *moved = length;
  return usbpio::TransferOutcome::Completed;
}

usbpio::TransferOutcome FakePipeDriver::read(int32_t pipe, uint8_t* data, size_t length, unsigned timeoutMs,
                                             size_t* moved) {
  int number = 0;
  FakeBoard* board = boardOfPipe(pipe, &number);
  *moved = 0;
  if (board == nullptr || (board->endpoints[static_cast<size_t>(number)].address & 0x80) == 0) {
    return usbpio::TransferOutcome::Failed;
  }
  board->reads.push_back(number);
  board->readTimeouts.push_back(timeoutMs);
  if (board->neverCompletes) return usbpio::TransferOutcome::TimedOut;
  if (board->unplugDuringTransfer) board->attached = false;
  if (!board->attached || board->failTransfers || board->halted.count(board->endpoints[static_cast<size_t>(number)].address)) {
    return usbpio::TransferOutcome::Failed;
  }
  if (board->replies.empty()) return usbpio::TransferOutcome::TimedOut;
  std::vector<uint8_t> reply = board->replies.front();
  board->replies.pop_front();
  if (board->shortReply != 0 && reply.size() > board->shortReply) reply.resize(board->shortReply);
  const size_t n = std::min(length, reply.size());
  std::copy(reply.begin(), reply.begin() + static_cast<long>(n), data);
  *moved = n;
  return usbpio::TransferOutcome::Completed;
}

}  // namespace usbpio_test
