// The Korean error texts the tests expect, read from tests/golden/error_texts.json:
// the one copy besides the product's own, shared with the Wine tests.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

// The whole file, read once. Throws, so the calling test fails with the path.
inline const nlohmann::json& golden_errors() {
    static const nlohmann::json errors = [] {
        const std::string path = std::string(CHATDRAFT_GOLDEN_DIR) + "/error_texts.json";
        FILE* f = fopen(path.c_str(), "rb");
        if (!f) throw std::runtime_error("cannot read " + path);
        std::string bytes;
        char chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
        fclose(f);
        return nlohmann::json::parse(bytes);
    }();
    return errors;
}

// An entry's text as a JSON string in quotes, as the documents carry it.
inline std::string golden_error_string(const std::string& name) {
    return golden_errors().at(name).at("text").dump();
}

// A document that is nothing but an error. The entry's name is its error code,
// followed by a word where one code has two texts ("NEEDS_OPEN_ROOM short").
inline std::string golden_error_doc(const std::string& name) {
    return "{\"status\":\"error\",\"error_code\":\"" + name.substr(0, name.find(' ')) +
           "\",\"error\":" + golden_error_string(name) + "}\n";
}
