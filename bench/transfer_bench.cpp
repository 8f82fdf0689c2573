// File transfer between two clients on loopback: the engine's sender and receiver (the
// request handed over in process, as the server would relay it) against a plain copy of the
// same file over a loopback socket, in the same run. Prints MB/s and the CPU each side spends
// per MB, and the ratio of the transfer's rate to the plain copy's.
//
//   transfer_bench [--sizes 1,100,1024] [--folder DIR]     sizes in MB
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/session/file_transfer.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"

namespace fs = std::filesystem;
using namespace talvorine;
using namespace talvorine::client::session;

namespace {

double ThreadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Seconds(std::chrono::steady_clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

// Hands the file request to the receiving side as the server's relay would.
class InProcessRelay : public RequestChannel {
public:
    std::promise<protocol::FileRequest> offered;
    Reply Exchange(std::uint8_t type, std::span<const std::uint8_t> body) override {
        if (type == protocol::PacketType::FileRequest) {
            auto request = protocol::FileRequest::Decode(body);
            request.address.address = htonl(INADDR_LOOPBACK);
            request.userId = "00000001";
            offered.set_value(request);
        }
        return Reply{};
    }
};

struct Figures {
    double seconds = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
};

Figures EngineTransfer(const fs::path& file, const fs::path& folder) {
    InProcessRelay relay;
    AccountTransferRecords senderRecords("00000001");
    AccountTransferRecords receiverRecords("00000002");
    FileReceiveOptions options;
    options.acceptMode = 1;
    options.overwriteMode = 0;
    options.useUserName = false;
    options.receiveFolder = folder;

    Figures figures;
    const auto start = std::chrono::steady_clock::now();
    auto sending = std::async(std::launch::async, [&] {
        FileSender sender(relay, senderRecords, "00000002");
        if (sender.Open(file)) {
            return std::make_pair(false, 0.0);
        }
        const double before = ThreadCpuSeconds();
        const auto result = sender.Run({}, "benchmark");
        return std::make_pair(result.end == TransferResult::End::Done, ThreadCpuSeconds() - before);
    });
    FileReceiver receiver(receiverRecords, options,
                          FileOffer::From(relay.offered.get_future().get()));
    struct NoDialog : SavePrompt {
        std::optional<fs::path> AskSavePath(const fs::path&) override { return std::nullopt; }
    } noDialog;
    const double before = ThreadCpuSeconds();
    bool received = false;
    if (const auto target = receiver.ChooseTarget(noDialog);
        target && !receiver.OpenTarget(*target)) {
        received = receiver.Receive({}).end == TransferResult::End::Done;
    }
    figures.receiverCpu = ThreadCpuSeconds() - before;
    const auto [sent, senderCpu] = sending.get();
    figures.seconds = Seconds(std::chrono::steady_clock::now() - start);
    figures.senderCpu = senderCpu;
    if (!sent || !received) {
        std::fprintf(stderr, "transfer_bench: the transfer of %s failed\n", file.c_str());
        std::exit(1);
    }
    return figures;
}

// What `nc` does: read the file, write the bytes to a loopback socket; the other end reads
// and writes them to a file. `chunk` is the size of each read and write.
Figures PlainCopy(const fs::path& file, const fs::path& target, std::size_t chunk) {
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listening < 0 || ::bind(listening, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listening, 1) != 0 ||
        ::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("transfer_bench: listen");
        std::exit(1);
    }
    Figures figures;
    const auto start = std::chrono::steady_clock::now();
    auto sending = std::async(std::launch::async, [&] {
        const double before = ThreadCpuSeconds();
        const int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(out, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::perror("transfer_bench: connect");
            std::exit(1);
        }
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        std::vector<char> buffer(chunk);
        for (ssize_t got; (got = ::read(in, buffer.data(), buffer.size())) > 0;) {
            for (ssize_t put = 0; put < got;) {
                const ssize_t n = ::send(out, buffer.data() + put,
                                         static_cast<std::size_t>(got - put), MSG_NOSIGNAL);
                if (n <= 0) {
                    std::exit(1);
                }
                put += n;
            }
        }
        ::close(in);
        ::close(out);
        return ThreadCpuSeconds() - before;
    });
    const double before = ThreadCpuSeconds();
    const int peer = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(chunk);
    for (ssize_t got; (got = ::recv(peer, buffer.data(), buffer.size(), 0)) > 0;) {
        if (::write(out, buffer.data(), static_cast<std::size_t>(got)) != got) {
            std::exit(1);
        }
    }
    ::close(out);
    ::close(peer);
    ::close(listening);
    figures.receiverCpu = ThreadCpuSeconds() - before;
    figures.senderCpu = sending.get();
    figures.seconds = Seconds(std::chrono::steady_clock::now() - start);
    return figures;
}

void MakeFile(const fs::path& file, std::uint64_t bytes) {
    std::ofstream out(file, std::ios::binary);
    std::mt19937_64 random(1);
    std::vector<std::uint64_t> block(8192);
    for (std::uint64_t written = 0; written < bytes;) {
        for (auto& word : block) {
            word = random();
        }
        const auto size = std::min<std::uint64_t>(bytes - written, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(size));
        written += size;
    }
}

void Row(const char* what, std::uint64_t bytes, const Figures& f, double reference) {
    const double megabytes = static_cast<double>(bytes) / (1024.0 * 1024.0);
    std::printf("| %-22s | %7.0f MB | %9.1f | %10.2f | %10.2f | %6.2f |\n", what, megabytes,
                megabytes / f.seconds, f.senderCpu * 1000.0 / megabytes,
                f.receiverCpu * 1000.0 / megabytes, reference > 0 ? reference / f.seconds : 1.0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::uint64_t> sizes{1, 100, 1024};
    fs::path folder = fs::temp_directory_path() / ("transfer-bench-" + std::to_string(::getpid()));
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--sizes") {
            sizes.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');) {
                sizes.push_back(std::stoull(item));
            }
        } else if (option == "--folder") {
            folder = argv[i + 1];
        } else {
            std::fprintf(stderr, "usage: transfer_bench [--sizes 1,100,1024] [--folder DIR]\n");
            return 2;
        }
    }
    fs::create_directories(folder / "received");
    ::setenv("TALVORINE_CLIENT_HOME", (folder / "home").c_str(), 1);
    ::setenv("TALVORINE_REGISTRY_DIR", (folder / "home").c_str(), 1);
    fs::create_directories(folder / "home");

    std::printf(
        "| transfer               |     size |      MB/s | sender ms/MB | receiver ms/MB | rate vs "
        "plain 64 KiB |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const std::uint64_t megabytes : sizes) {
        const std::uint64_t bytes = megabytes * 1024 * 1024;
        const fs::path file = folder / ("file-" + std::to_string(megabytes) + ".bin");
        MakeFile(file, bytes);
        // Each copy reads the same file from the page cache and writes a file of its own.
        const Figures plain4k = PlainCopy(file, folder / "received" / "plain-4k.bin", 4096);
        const Figures plain64k = PlainCopy(file, folder / "received" / "plain-64k.bin", 65536);
        const Figures engine = EngineTransfer(file, folder / "received");
        Row("plain copy, 64 KiB", bytes, plain64k, plain64k.seconds);
        Row("plain copy, 4 KiB", bytes, plain4k, plain64k.seconds);
        Row("messenger transfer", bytes, engine, plain64k.seconds);
        fs::remove(file);
        fs::remove_all(folder / "received");
        fs::create_directories(folder / "received");
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
