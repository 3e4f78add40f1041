// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

// Holds the one process-wide instance of T, made on first access and kept until exit
// (or until a test resets it to start from a fresh database).
template<typename T>
class SharedInstance
{
public:
    static T &get()
    {
        std::unique_ptr<T> &instance = slot();
        if (!instance)
            instance.reset(new T);
        return *instance;
    }
    static bool exists() { return slot() != nullptr; }
    static void reset() { slot().reset(); }

private:
    static std::unique_ptr<T> &slot()
    {
        static std::unique_ptr<T> instance;
        return instance;
    }
};
