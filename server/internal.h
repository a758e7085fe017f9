// Internals shared by the network loop (server.cpp), the game (game.cpp) and
// the download area (http.cpp).  Everything here belongs to the loop thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "server.h"

using Clock = std::chrono::steady_clock;

// One game connection.
struct Client {
    int fd = -1;
    uint64_t serial = 0;       // connection number, for the log
    std::string in;            // bytes received, not yet a whole line
    std::string out;           // bytes waiting to be sent
    bool closeAfterFlush = false;
    bool dead = false;         // to be removed at the end of this loop turn
    Clock::time_point lastHeard;
    Clock::time_point nextPing;

    std::string challenge;
    bool loggedIn = false;
    std::string name;          // account name, CP1252
    std::string displayName;   // the name given in the "Votre nom" input box

    // Game state.
    std::string place = "accueil";  // where the player is: music follows it
    std::array<char, 9> board{};    // ' ', 'X' (player) or 'O' (server)
    bool gameOver = false;
    bool inChat = false;
    int counter = 0;                // live menu's counter
    int extraItems = 0;             // items appended to the live menu
};

// One download connection: read the request, write the answer, close.
struct HttpConn {
    int fd = -1;
    std::string in;
    std::string out;
    size_t sent = 0;
    bool answered = false;
    bool dead = false;
    Clock::time_point started;
};

struct Account {
    std::string salt;
    std::string digest;
};

struct Server::Impl {
    ServerOptions opt;
    int listenFd = -1;
    int httpFd = -1;
    int boundPort = 0;
    int boundHttpPort = 0;
    int wakePipe[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    uint64_t nextSerial = 1;
    std::mt19937_64 rng{std::random_device{}()};

    std::vector<std::unique_ptr<Client>> clients;
    std::vector<std::unique_ptr<HttpConn>> https;
    std::map<std::string, Account> accounts;

    // server.cpp
    void send(Client& c, std::string_view line);  // appends line + "\n"
    void log(const Client& c, std::string_view what);
    std::string randomText(size_t n);
    bool loadAccounts(std::string* error);
    void saveAccounts();
    void handleLine(Client& c, std::string_view line);
    void handleLogin(Client& c, std::string_view payload);

    // game.cpp
    void onLoggedIn(Client& c);
    void onGameLine(Client& c, std::string_view line);
    void onLeave(Client& c);
    std::string checkfileLine() const;

    // http.cpp
    std::string httpAnswer(std::string_view request) const;
};

// The digest kept for a password: the shared challenge fold of a random salt,
// the name and the password, in radix 36.
std::string passwordDigest(std::string_view salt, std::string_view name, std::string_view password);
