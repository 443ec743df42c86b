#pragma once

// Stops the fuzzer at the first broken promise, in release builds as well.
inline void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}
