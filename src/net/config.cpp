#include "net/config.h"

Settings conf;
std::vector<servinfo> servers;

servinfo* selectedServer() {
    return conf.serverIndex < servers.size() ? &servers[conf.serverIndex] : nullptr;
}
