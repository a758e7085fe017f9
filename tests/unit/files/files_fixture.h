// A fresh program folder in the temporary directory, the loopback HTTP
// server, and the file delivery settings pointed at both.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/core.h"
#include "files/download.h"
#include "http_test_server.h"

class FilesFixture : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("kordo-files-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        resetCore();
        setDownloadEndpoint({"127.0.0.1", server.port(), "/autodl", 2000});
        setFilesRoot(dir.string() + "/");
    }
    void TearDown() override {
        resetCore();
        std::filesystem::remove_all(dir);
    }
    // Changes one or more fields of the delivery endpoint.
    template <class F>
    static void changeEndpoint(F change) {
        DownloadEndpoint ep = downloadEndpoint();
        change(ep);
        setDownloadEndpoint(std::move(ep));
    }
    std::string path(const std::string& rel) const { return (dir / rel).string(); }
    void put(const std::string& rel, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
        std::ofstream(path(rel), std::ios::binary) << bytes;
    }
    std::string read(const std::string& rel) const {
        std::ifstream f(path(rel), std::ios::binary);
        if (!f) return "<missing>";
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    // Names in the folder other than the expected ones (left-over ".part").
    int fileCount() const {
        int n = 0;
        for (auto& e : std::filesystem::recursive_directory_iterator(dir))
            if (e.is_regular_file()) n++;
        return n;
    }
    static HttpReply ok(const std::string& body) {
        return {"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body};
    }

    HttpTestServer server;
    std::filesystem::path dir;
};
