#pragma once
// The board as a SCPI instrument: the IEEE 488.2 common commands, the error
// queue and status bytes of each client, and the command tree over the
// headless session. Qt-free and without sockets: zelbo-server feeds it lines
// and sends back what it answers. Every call is made from one thread (the
// server's board thread); the session's own reader thread is untouched.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/session.h"
#include "server/scpi_parser.h"

namespace zelbo::server {

// What a controlling client that goes away leaves behind.
enum class DisconnectPolicy { Stop, Off, Keep };

struct Identity {
    std::string maker = "Zelbo";
    std::string model = "TQ5170x-EVB";
    std::string serial = "0";
    std::string firmware;
};

// One client's share of the instrument: its error queue, status registers and
// the line it is working through.
struct ClientState {
    explicit ClientState(int id_) : id(id_) {}
    int id;
    std::deque<std::pair<int, std::string>> errors; // oldest first
    std::uint8_t esr = 0, ese = 0, sre = 0;
    bool opcArmed = false; // *OPC: set ESR bit 0 once nothing is pending
    // The line under way: a *OPC? or *WAI waits here for the board.
    std::vector<Command> line;
    std::size_t next = 0;
    std::string response;
    bool anyQuery = false;
};

class ScpiInstrument {
public:
    static constexpr std::size_t kErrorQueueLength = 32;

    struct Options {
        Identity identity;
        // Files named by clients (sequences, settings) are read and written
        // only below this folder.
        std::filesystem::path fileRoot;
        DisconnectPolicy onDisconnect = DisconnectPolicy::Off;
        // A line for the server's log.
        std::function<void(const std::string&)> log;
    };

    ScpiInstrument(engine::Session& session, Options options);

    // Starts one line from the client. Returns true when the line is done,
    // false when it waits for a counted run or sequence to end (resume()
    // goes on once busy() is false). The answer, if any, is then in
    // takeResponse().
    bool execute(ClientState& client, std::string_view line);
    bool resume(ClientState& client);
    bool waiting(const ClientState& client) const { return client.next < client.line.size(); }
    // The answer to the finished line ("" when it had no query), terminated.
    std::string takeResponse(ClientState& client);

    // A counted run or sequence the session is carrying out.
    bool busy() const { return countedRun_ || countedSequence_; }
    // Keeps the board's operations going (the parts of long counted runs,
    // the end of sequences); call at least every 20 ms while busy().
    void poll();
    // Sets ESR bit 0 of the clients that armed *OPC once nothing is pending.
    void settleOpc(ClientState& client);

    // The client is gone: its lock is freed; when it controlled the board the
    // policy is applied.
    void clientGone(ClientState& client);
    // Shutting down: a counted run or sequence under way is stopped, the
    // board powered off.
    void shutdown();

    int lockHolder() const { return lockHolder_; }

    // The tree as a Markdown table (the one in the documentation).
    static std::string treeMarkdown();

    // Adds an error to the client's queue (the queue's last entry becomes
    // -350 "Queue overflow" when it is full).
    static void pushError(ClientState& client, int code, const std::string& detail = {});
    static std::uint8_t statusByte(const ClientState& client);

    struct Entry;

private:
    friend struct Handlers;
    void run(ClientState& client, const Command& cmd);
    std::filesystem::path clientPath(const std::string& name) const;

    engine::Session& s_;
    Options o_;
    int lockHolder_ = 0; // client id, 0: none
    int controller_ = 0; // the client that last changed the board
    bool countedRun_ = false;
    bool countedSequence_ = false;
    double frequency_ = 1000.0; // for the next run
    // The sweep DIGitize took, for WAVeform:DATA?.
    engine::Capture capture_;
    bool haveCapture_ = false;
    int waveSource_ = 0;
    bool waveWord_ = false; // WORD (int16) rather than REAL (float32)
};

} // namespace zelbo::server
