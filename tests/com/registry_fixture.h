#pragma once
// A private registry for a test: a fresh directory named by TAGVISTA_REGISTRY, removed (and the
// variable restored) afterwards.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "com/registry.h"

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("TAGVISTA_REGISTRY")) {
            saved_ = old;
        }
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tgv-registry-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        ::setenv("TAGVISTA_REGISTRY", dir_.c_str(), 1);
    }

    void TearDown() override {
        if (saved_) {
            ::setenv("TAGVISTA_REGISTRY", saved_->c_str(), 1);
        } else {
            ::unsetenv("TAGVISTA_REGISTRY");
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Writes a file as a person would, in place.
    void WriteText(const std::string& name, const std::string& text) {
        std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
        out << text;
        ASSERT_TRUE(out.good());
    }

    static std::optional<std::string> ReadString(HKEY root, const char* subKey,
                                                 const char* valueName) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        char buffer[512] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        const LSTATUS status = RegQueryValueExA(key, valueName, nullptr, &type,
                                                reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            return std::nullopt;
        }
        return std::string(buffer);
    }

    static bool KeyExists(HKEY root, const char* subKey) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }

    std::filesystem::path dir_;
    std::optional<std::string> saved_;
};
