// Constant pool: keys, hashing and interning.  See pool.h.
#include "python/pool.h"

#include <cmath>
#include <cstring>

#include "core/util/fxhash.h"

namespace tessaron::python {

PoolKey PoolKey::of(PyObject* obj) {
    PoolKey key;
    auto identity = [&] {
        key.tag = PoolKeyTag::Object;
        key.word = reinterpret_cast<std::uintptr_t>(obj);
        key.bytes.clear();
        return key;
    };
    if (obj == Py_None) {
        key.tag = PoolKeyTag::None;
        return key;
    }
    PyTypeObject* type = Py_TYPE(obj);
    if (type == &PyBool_Type) {
        key.tag = PoolKeyTag::Bool;
        key.word = obj == Py_True ? 1 : 0;
        return key;
    }
    if (type == &PyLong_Type) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (overflow != 0 || (v == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            return identity();
        }
        key.tag = PoolKeyTag::Int;
        key.word = static_cast<std::uint64_t>(v);
        return key;
    }
    if (type == &PyFloat_Type) {
        double x = PyFloat_AS_DOUBLE(obj);
        if (std::isnan(x)) return identity();
        x = x + 0.0;
        key.tag = PoolKeyTag::Float;
        std::memcpy(&key.word, &x, sizeof x);
        return key;
    }
    if (type == &PyUnicode_Type) {
        Py_ssize_t len = 0;
        const char* text = PyUnicode_AsUTF8AndSize(obj, &len);
        if (!text) {
            PyErr_Clear();
            return identity();
        }
        key.tag = PoolKeyTag::Str;
        key.bytes.assign(text, static_cast<std::size_t>(len));
        return key;
    }
    if (type == &PyBytes_Type) {
        key.tag = PoolKeyTag::Bytes;
        key.bytes.assign(PyBytes_AS_STRING(obj), static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
        return key;
    }
    return identity();
}

bool pool_key_eq(const PoolKey& a, const PoolKey& b) {
    if (a.tag != b.tag) return false;
    switch (a.tag) {
        case PoolKeyTag::None:
            return true;
        case PoolKeyTag::Str:
        case PoolKeyTag::Bytes:
            return a.bytes == b.bytes;
        default:
            return a.word == b.word;
    }
}

std::uint64_t hash_pool_key(const PoolKey& key) {
    util::FxHasher h;
    h.write(static_cast<std::uint64_t>(key.tag));
    switch (key.tag) {
        case PoolKeyTag::None:
            break;
        case PoolKeyTag::Str:
            h.write_bytes(key.bytes);
            h.write(0xff);
            break;
        case PoolKeyTag::Bytes:
            h.write(key.bytes.size());
            h.write_bytes(key.bytes);
            break;
        default:
            h.write(key.word);
            break;
    }
    return h.finish();
}

std::uint64_t intern_pool_value(Pool& pool, PyObject* obj) {
    PoolKey key = PoolKey::of(obj);
    if (!pool.index.empty()) {
        auto it = pool.index.find(key);
        if (it != pool.index.end()) return it->second;
    }
    const std::uint64_t position = pool.objects.size();
    pool.objects.push_back(py::Ref::borrow(obj));
    pool.index.emplace(std::move(key), position);
    return position;
}

Pool rebuild_pool_index(PoolObjects objects) {
    Pool pool;
    pool.objects = std::move(objects);
    pool.index.reserve(pool.objects.size());
    for (std::size_t i = 0; i < pool.objects.size(); ++i) {
        pool.index.insert_or_assign(PoolKey::of(pool.objects[i].get()), static_cast<std::uint64_t>(i));
    }
    return pool;
}

}  // namespace tessaron::python
