#pragma once

// Owns the objects behind the handles given to callers, so that a stale or
// foreign handle is recognised instead of being dereferenced.

#include <map>
#include <memory>

namespace corvo {

template <typename T>
class HandleRegistry
{
public:
    T *add(std::unique_ptr<T> object)
    {
        T *handle = object.get();
        objects_[handle] = std::move(object);
        return handle;
    }

    // The live object behind handle, or nullptr.
    T *find(const void *handle) const
    {
        const auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second.get();
    }

    std::unique_ptr<T> take(const void *handle)
    {
        const auto it = objects_.find(handle);
        if (it == objects_.end())
            return nullptr;
        std::unique_ptr<T> object = std::move(it->second);
        objects_.erase(it);
        return object;
    }

private:
    std::map<const void *, std::unique_ptr<T>> objects_;
};

} // namespace corvo
