// A scripted console for the prompt: keys to give, and the bytes echoed.
#pragma once

#include <string>
#include <vector>

struct FakeConsole {
    FakeConsole() = default;
    explicit FakeConsole(std::vector<int> scriptedKeys) : keys(std::move(scriptedKeys)) {}

    std::vector<int> keys;  // given in order; -1 once they run out
    size_t nextKey = 0;
    std::string echo;
    std::vector<std::string> fields;  // the prompt text of each field, as the console was told it
    int endCalls = 0;
};

FakeConsole& fakeConsole();
