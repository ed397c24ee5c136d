// palfill's extension: the library's conversion and the command's, over
// Python's buffers and paths. Bytes in, bytes out; the GIL is released
// while a conversion runs, so that any number of threads may convert.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>

#include "driver/conversion.h"
#include "driver/messages.h"
#include "palfill.h"

using namespace palfill;

namespace {

// What the package hands over once it has made them: the members of
// palfill.ResultCode, by value, for Result.result.
struct module_state {
  PyObject* result_codes;     // a tuple
  PyTypeObject* result_type;  // palfill.Result
};

module_state* state_of(PyObject* module) {
  return static_cast<module_state*>(PyModule_GetState(module));
}

PyStructSequence_Field result_fields[] = {
    {"result", "How the conversion ended: a palfill.ResultCode."},
    {"data", "What the palfill command leaves in its output file (None from convert_file)."},
    {nullptr, nullptr}};

PyStructSequence_Desc result_desc = {
    "palfill.Result",
    "How a conversion ended, and what it left: the result and the bytes of the output.",
    result_fields, 2};

// The ResultCode member for `code`, or the plain number for one the
// package does not know (a new reference).
PyObject* result_code(PyObject* module, int code) {
  PyObject* codes = state_of(module)->result_codes;
  if (codes != nullptr && code >= 0 && code < PyTuple_GET_SIZE(codes)) {
    PyObject* member = PyTuple_GET_ITEM(codes, code);
    Py_INCREF(member);
    return member;
  }
  return PyLong_FromLong(code);
}

PyObject* make_result(PyObject* module, int code, PyObject* data) {
  PyObject* result = PyStructSequence_New(state_of(module)->result_type);
  PyObject* member = result_code(module, code);
  if (result == nullptr || member == nullptr) {
    Py_XDECREF(result);
    Py_XDECREF(member);
    Py_XDECREF(data);
    return nullptr;
  }
  PyStructSequence_SET_ITEM(result, 0, member);
  if (data == nullptr) {
    Py_INCREF(Py_None);
    data = Py_None;
  }
  PyStructSequence_SET_ITEM(result, 1, data);
  return result;
}

// A contiguous view of any object with the buffer protocol; a strided one
// is copied. False, with TypeError set, for anything else.
bool get_bytes(PyObject* object, Py_buffer* view, const char* name) {
  if (PyObject_GetBuffer(object, view, PyBUF_SIMPLE) == 0) return true;
  if (!PyErr_ExceptionMatches(PyExc_BufferError) || !PyObject_CheckBuffer(object)) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "%s must be a bytes-like object, not %.200s", name,
                 Py_TYPE(object)->tp_name);
    return false;
  }
  PyErr_Clear();
  PyObject* copy = PyMemoryView_GetContiguous(object, PyBUF_READ, 'C');
  if (copy == nullptr) return false;
  const int got = PyObject_GetBuffer(copy, view, PyBUF_SIMPLE);
  Py_DECREF(copy);  // the view keeps the copy alive
  return got == 0;
}

// convert(png, clut=None): positional or by keyword.
bool parse_png_and_clut(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** png,
                        PyObject** clut) {
  *png = nargs > 0 ? args[0] : nullptr;
  *clut = nargs > 1 ? args[1] : Py_None;
  if (nargs > 2) {
    PyErr_SetString(PyExc_TypeError, "convert() takes at most 2 arguments");
    return false;
  }
  const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < keywords; ++i) {
    const char* name = PyUnicode_AsUTF8(PyTuple_GET_ITEM(kwnames, i));
    PyObject** slot = name == nullptr               ? nullptr
                      : std::string(name) == "png"  ? png
                      : std::string(name) == "clut" ? clut
                                                    : nullptr;
    if (slot == nullptr || (slot == png && *png != nullptr) || (slot == clut && nargs > 1)) {
      PyErr_Format(PyExc_TypeError, "convert() got an unexpected or repeated argument '%s'",
                   name != nullptr ? name : "?");
      return false;
    }
    *slot = args[nargs + i];
  }
  if (*png == nullptr) {
    PyErr_SetString(PyExc_TypeError, "convert() missing required argument 'png'");
    return false;
  }
  return true;
}

PyObject* convert(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject *png_object, *clut_object;
  if (!parse_png_and_clut(args, nargs, kwnames, &png_object, &clut_object)) return nullptr;
  Py_buffer png, clut;
  if (!get_bytes(png_object, &png, "png")) return nullptr;
  const bool has_clut = clut_object != Py_None;
  if (has_clut && !get_bytes(clut_object, &clut, "clut")) {
    PyBuffer_Release(&png);
    return nullptr;
  }
  // One allocation of the most the output can take, shrunk afterwards.
  const size_t bound = palfill_convert_bound(static_cast<size_t>(png.len));
  PyObject* data = bound <= static_cast<size_t>(PY_SSIZE_T_MAX)
                       ? PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bound))
                       : nullptr;
  palfill_result result = PALFILL_OUT_OF_MEMORY;
  size_t size = 0;
  if (data == nullptr) {
    PyErr_Clear();  // no room is a result, as in the library
  } else {
    auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(data));
    const auto* png_bytes = static_cast<const unsigned char*>(png.buf);
    const auto* clut_bytes = has_clut ? static_cast<const unsigned char*>(clut.buf) : nullptr;
    const size_t clut_size = has_clut ? static_cast<size_t>(clut.len) : 0;
    PyThreadState* saved = PyEval_SaveThread();  // the GIL, released while it converts
    result = palfill_convert_into(png_bytes, static_cast<size_t>(png.len), clut_bytes, clut_size,
                                  out, bound, &size);
    PyEval_RestoreThread(saved);
  }
  PyBuffer_Release(&png);
  if (has_clut) PyBuffer_Release(&clut);
  if (data == nullptr) {
    data = PyBytes_FromStringAndSize("", 0);
  } else if (_PyBytes_Resize(&data, static_cast<Py_ssize_t>(size)) != 0) {
    return nullptr;
  }
  return make_result(module, result, data);
}

// The command's conversion of files: (status, line, result, file_failure),
// with the paths as the file system's bytes.
PyObject* convert_file(PyObject*, PyObject* args) {
  const char *input, *output, *clut = nullptr;
  Py_ssize_t input_size, output_size, clut_size = 0;
  if (!PyArg_ParseTuple(args, "y#y#|z#", &input, &input_size, &output, &output_size, &clut,
                        &clut_size)) {
    return nullptr;
  }
  const auto argument = [](const char* bytes, Py_ssize_t size) {
    const std::string text(bytes, static_cast<size_t>(size));
    return command_argument{std::filesystem::path(text), text};
  };
  const command_argument in = argument(input, input_size), out = argument(output, output_size);
  const command_argument clut_argument = clut != nullptr ? argument(clut, clut_size) : in;
  PyThreadState* saved = PyEval_SaveThread();
  const file_conversion done = convert_files(in, clut != nullptr ? &clut_argument : nullptr, out);
  PyEval_RestoreThread(saved);
  return Py_BuildValue("(iy#iO)", done.status, done.line.data(),
                       static_cast<Py_ssize_t>(done.line.size()), done.result,
                       done.file_failure ? Py_True : Py_False);
}

PyObject* result_line(PyObject*, PyObject* args) {
  int result;
  const char *input, *clut, *output;
  if (!PyArg_ParseTuple(args, "isss", &result, &input, &clut, &output)) return nullptr;
  const std::string line = palfill::result_line(palfill_result(result), input, clut, output);
  return PyUnicode_DecodeUTF8(line.data(), static_cast<Py_ssize_t>(line.size()) - 1,
                              "surrogateescape");
}

PyObject* set_result_codes(PyObject* module, PyObject* codes) {
  if (!PyTuple_Check(codes)) {
    PyErr_SetString(PyExc_TypeError, "a tuple of ResultCode members");
    return nullptr;
  }
  Py_INCREF(codes);
  Py_XSETREF(state_of(module)->result_codes, codes);
  Py_RETURN_NONE;
}

PyObject* library_version(PyObject*, PyObject*) {
  return PyUnicode_FromString(palfill_version());
}

PyMethodDef methods[] = {
    {"convert", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(convert)),
     METH_FASTCALL | METH_KEYWORDS,
     "convert(png, clut=None) -> Result\n\n"
     "Gives a PNG held in memory its palette, from a CLUT file's bytes or, without one, from the\n"
     "128 default colours. png and clut take any object with the buffer protocol (bytes,\n"
     "bytearray, memoryview, mmap); anything else raises TypeError. Result.data is what the\n"
     "palfill command leaves in its output file: the image, the chunks before the damage, or\n"
     "nothing (b''). The GIL is released while it converts."},
    {"_convert_file", convert_file, METH_VARARGS, "The command's conversion; see convert_file()."},
    {"_result_line", result_line, METH_VARARGS, "The command's line for a result."},
    {"_set_result_codes", set_result_codes, METH_O, "Hands over palfill.ResultCode's members."},
    {"library_version", library_version, METH_NOARGS, "The version of the library compiled in."},
    {nullptr, nullptr, 0, nullptr}};

int traverse(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(state_of(module)->result_codes);
  Py_VISIT(state_of(module)->result_type);
  return 0;
}

int clear(PyObject* module) {
  Py_CLEAR(state_of(module)->result_codes);
  Py_CLEAR(state_of(module)->result_type);
  return 0;
}

PyModuleDef module_def = {PyModuleDef_HEAD_INIT,
                          "palfill._palfill",
                          "palfill's core, compiled in.",
                          sizeof(module_state),
                          methods,
                          nullptr,
                          traverse,
                          clear,
                          nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__palfill(void) {
  PyObject* module = PyModule_Create(&module_def);
  if (module == nullptr) return nullptr;
  module_state* state = state_of(module);
  state->result_codes = nullptr;
  state->result_type = PyStructSequence_NewType(&result_desc);
  if (state->result_type == nullptr) {
    Py_DECREF(module);
    return nullptr;
  }
  Py_INCREF(state->result_type);
  if (PyModule_AddObject(module, "Result", reinterpret_cast<PyObject*>(state->result_type)) != 0) {
    Py_DECREF(state->result_type);
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
