// Fast-call argument parsing; see args.h for the wording of the errors.
#include "python/binding/args.h"

#include <string>

namespace tessaron::py {

std::string quoted_name_list(const std::vector<std::string>& names) {
    std::string msg;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) {
            if (names.size() > 2) msg += ',';
            msg += (i == names.size() - 1) ? " and " : " ";
        }
        msg += '\'';
        msg += names[i];
        msg += '\'';
    }
    return msg;
}

namespace {

bool missing_error(const ArgSpec& spec, const char* kind, const std::vector<std::string>& names) {
    std::string msg = spec.full_name;
    msg += " missing " + std::to_string(names.size()) + " required " + kind + " " +
           (names.size() == 1 ? "argument" : "arguments") + ": " + quoted_name_list(names);
    PyErr_SetString(PyExc_TypeError, msg.c_str());
    return false;
}

}  // namespace

bool parse_fastcall(const ArgSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out) {
    const std::size_t npos = spec.positional.size();
    const std::size_t nkw = spec.keyword_only.size();
    for (std::size_t i = 0; i < npos + nkw; ++i) out[i] = nullptr;

    const auto given = static_cast<std::size_t>(nargs);
    if (given > npos && !spec.var_positional) {
        const char* was = given == 1 ? "was" : "were";
        std::string msg = spec.full_name;
        if (spec.required_positional != npos) {
            msg += " takes from " + std::to_string(spec.required_positional) + " to " +
                   std::to_string(npos) + " positional arguments but " + std::to_string(given) + " " +
                   was + " given";
        } else {
            msg += " takes " + std::to_string(npos) + " positional arguments but " +
                   std::to_string(given) + " " + was + " given";
        }
        PyErr_SetString(PyExc_TypeError, msg.c_str());
        return false;
    }
    for (std::size_t i = 0; i < given && i < npos; ++i) out[i] = args[i];

    if (kwnames) {
        std::vector<std::string> positional_only_as_keyword;
        const Py_ssize_t nk = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nk; ++k) {
            PyObject* name = PyTuple_GET_ITEM(kwnames, k);
            PyObject* value = args[nargs + k];
            Py_ssize_t len = 0;
            const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &len) : nullptr;
            if (!text) {
                PyErr_Clear();
                PyObject* r = PyObject_Repr(name);
                std::string shown = "?";
                if (r) {
                    const char* t = PyUnicode_AsUTF8(r);
                    if (t) shown = t;
                    Py_DECREF(r);
                }
                PyErr_Clear();
                std::string msg = std::string(spec.full_name) + " got an unexpected keyword argument " + shown;
                PyErr_SetString(PyExc_TypeError, msg.c_str());
                return false;
            }
            const std::string key(text, static_cast<std::size_t>(len));
            bool matched = false;
            for (std::size_t i = 0; i < npos; ++i) {
                if (key != spec.positional[i]) continue;
                matched = true;
                if (i < spec.positional_only) {
                    positional_only_as_keyword.push_back(key);
                } else if (out[i]) {
                    std::string msg = std::string(spec.full_name) + " got multiple values for argument '" + key + "'";
                    PyErr_SetString(PyExc_TypeError, msg.c_str());
                    return false;
                } else {
                    out[i] = value;
                }
                break;
            }
            if (!matched) {
                for (std::size_t j = 0; j < nkw; ++j) {
                    if (key != spec.keyword_only[j]) continue;
                    matched = true;
                    out[npos + j] = value;
                    break;
                }
            }
            if (!matched) {
                std::string msg = std::string(spec.full_name) + " got an unexpected keyword argument '" + key + "'";
                PyErr_SetString(PyExc_TypeError, msg.c_str());
                return false;
            }
        }
        if (!positional_only_as_keyword.empty()) {
            std::string msg = std::string(spec.full_name) +
                              " got some positional-only arguments passed as keyword arguments: " +
                              quoted_name_list(positional_only_as_keyword);
            PyErr_SetString(PyExc_TypeError, msg.c_str());
            return false;
        }
    }

    std::vector<std::string> missing;
    for (std::size_t i = 0; i < spec.required_positional; ++i)
        if (!out[i]) missing.emplace_back(spec.positional[i]);
    if (!missing.empty()) return missing_error(spec, "positional", missing);
    for (std::size_t j = 0; j < spec.required_keyword_only; ++j)
        if (!out[npos + j]) missing.emplace_back(spec.keyword_only[j]);
    if (!missing.empty()) return missing_error(spec, "keyword", missing);
    return true;
}

}  // namespace tessaron::py
