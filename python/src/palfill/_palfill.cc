// palfill's extension, in the manner of CPython's zlib module: the
// library's conversion and the command's over Python's buffers and paths,
// arguments parsed by the C API, paths taken by PyUnicode_FSConverter,
// bytes in and bytes out, the GIL released while anything converts, and
// every failure raised as one of the package's exceptions, which the
// package hands over once it has made them (_setup).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "driver/command.h"
#include "driver/conversion.h"
#include "driver/tree.h"
#include "messages/messages.h"
#include "palfill.h"

using namespace palfill;

namespace {

struct module_state {
  PyObject* result_codes;      // palfill.ResultCode's members, by value
  PyObject* conversion_error;  // palfill.ConversionError
  PyObject* file_error;        // palfill._file_error(errno, line, filename, result)
};

module_state* state_of(PyObject* module) {
  return static_cast<module_state*>(PyModule_GetState(module));
}

// The ResultCode member for `code` (a new reference).
PyObject* result_code(PyObject* module, int code) {
  PyObject* codes = state_of(module)->result_codes;
  if (codes != nullptr && code >= 0 && code < PyTuple_GET_SIZE(codes)) {
    PyObject* member = PyTuple_GET_ITEM(codes, code);
    Py_INCREF(member);
    return member;
  }
  return PyLong_FromLong(code);
}

// A line of the command, its newline left out, as Python shows a name the
// file system gave it: os.fsdecode(), never an exception.
PyObject* line_text(const std::string& line) {
  const std::size_t size = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
  return PyUnicode_DecodeFSDefaultAndSize(line.data(), static_cast<Py_ssize_t>(size));
}

bool ready(PyObject* module) {
  if (state_of(module)->conversion_error != nullptr) return true;
  PyErr_SetString(PyExc_RuntimeError, "palfill._palfill is used before palfill set it up");
  return false;
}

// Raises palfill.ConversionError(line, result, data); returns null.
PyObject* raise_conversion_error(PyObject* module, const std::string& line, int result,
                                 PyObject* data) {
  PyObject* text = line_text(line);
  PyObject* code = result_code(module, result);
  PyObject* error =
      text != nullptr && code != nullptr
          ? PyObject_CallFunctionObjArgs(state_of(module)->conversion_error, text, code,
                                         data != nullptr ? data : Py_None, nullptr)
          : nullptr;
  if (error != nullptr) PyErr_SetObject(state_of(module)->conversion_error, error);
  Py_XDECREF(error);
  Py_XDECREF(code);
  Py_XDECREF(text);
  return nullptr;
}

// Raises the package's exception for a failure of the files: a
// palfill.FileError that is the OSError subclass Python raises for
// `error_number`. `filename` is the name the caller passed.
PyObject* raise_file_error(PyObject* module, const std::string& line, int error_number,
                           PyObject* filename, int result) {
  PyObject* text = line_text(line);
  PyObject* code = result >= 0 ? result_code(module, result) : (Py_INCREF(Py_None), Py_None);
  PyObject* error =
      text != nullptr && code != nullptr
          ? PyObject_CallFunction(state_of(module)->file_error, "iOOO", error_number, text,
                                  filename != nullptr ? filename : Py_None, code)
          : nullptr;
  if (error != nullptr) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error)), error);
  Py_XDECREF(error);
  Py_XDECREF(code);
  Py_XDECREF(text);
  return nullptr;
}

// Any object with the buffer protocol as one contiguous view, a strided one
// copied. False, with TypeError set, for anything else.
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

// A path as the command takes it: the file system's bytes of a str, bytes
// or os.PathLike, through PyUnicode_FSConverter (a NUL raises ValueError).
// Holds the bytes object until it goes.
struct path_argument {
  PyObject* bytes = nullptr;
  ~path_argument() { Py_XDECREF(bytes); }
  bool take(PyObject* object) { return PyUnicode_FSConverter(object, &bytes) != 0; }
  command_argument argument() const {
    const std::string name(PyBytes_AS_STRING(bytes),
                           static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    return command_argument{native_path(name), name};
  }
};

PyObject* convert(PyObject* module, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"png", "clut", nullptr};
  PyObject *png_object, *clut_object = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:convert", const_cast<char**>(keywords),
                                   &png_object, &clut_object) ||
      !ready(module)) {
    return nullptr;
  }
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
                       : PyErr_NoMemory();
  palfill_result result = PALFILL_OUT_OF_MEMORY;
  size_t size = 0;
  if (data != nullptr) {
    auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(data));
    const auto* clut_bytes = has_clut ? static_cast<const unsigned char*>(clut.buf) : nullptr;
    Py_BEGIN_ALLOW_THREADS;
    result = palfill_convert_into(static_cast<const unsigned char*>(png.buf),
                                  static_cast<size_t>(png.len), clut_bytes,
                                  has_clut ? static_cast<size_t>(clut.len) : 0, out, bound, &size);
    Py_END_ALLOW_THREADS;
  }
  PyBuffer_Release(&png);
  if (has_clut) PyBuffer_Release(&clut);
  if (data == nullptr || _PyBytes_Resize(&data, static_cast<Py_ssize_t>(size)) != 0) {
    return nullptr;  // Python's own memory ran out: MemoryError
  }
  if (result == PALFILL_FINISHED) return data;
  // A CLUT failure ends the command before it creates the output.
  const bool clut_failed = result == PALFILL_CLUT_UNEXPECTED_EOF ||
                           result == PALFILL_UNKNOWN_DEPTH || result == PALFILL_NOT_A_CLUT;
  raise_conversion_error(module, result_line(result, "<png>", "<clut>", "<output>"), result,
                         clut_failed ? nullptr : data);
  Py_DECREF(data);
  return nullptr;
}

PyObject* convert_file(PyObject* module, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"in_png", "out_png", "clut", nullptr};
  PyObject *in_object, *out_object, *clut_object = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$O:convert_file", const_cast<char**>(keywords),
                                   &in_object, &out_object, &clut_object) ||
      !ready(module)) {
    return nullptr;
  }
  path_argument in, out, clut;
  const bool has_clut = clut_object != Py_None;
  if (!in.take(in_object) || !out.take(out_object) || (has_clut && !clut.take(clut_object))) {
    return nullptr;
  }
  const command_argument input = in.argument(), output = out.argument();
  const command_argument colours = has_clut ? clut.argument() : input;
  file_conversion done{};
  bool out_of_memory = false;
  Py_BEGIN_ALLOW_THREADS;
  try {
    done = convert_files(input, has_clut ? &colours : nullptr, output);
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  Py_END_ALLOW_THREADS;
  if (out_of_memory) return PyErr_NoMemory();
  if (done.status == 0) Py_RETURN_NONE;
  if (!done.file_failure) return raise_conversion_error(module, done.line, done.result, nullptr);
  using role = file_conversion::role;
  PyObject* filename = done.failed_file == role::input  ? in_object
                       : done.failed_file == role::clut ? clut_object
                                                        : out_object;
  return raise_file_error(module, done.line, done.error_number, filename, done.result);
}

// Runs the tree on a thread of its own while this one, the caller's,
// answers Ctrl-C and calls `progress` with (done, found) five times a
// second. Either raising tells the run to stop; it then ends within a
// moment, leaving what an interrupted palfill leaves. False, with the
// exception set, when the run was stopped.
bool run_tree_answering(const tree_options& options, tree_events& events, PyObject* progress,
                        tree_result& result) {
  std::mutex lock;
  std::condition_variable ended;
  bool finished = false;
  const auto run = [&] {
    result = palfill::convert_tree(options, events);
    const std::lock_guard<std::mutex> guard(lock);
    finished = true;
    ended.notify_all();
  };
  std::thread runner;
  try {
    runner = std::thread(run);
  } catch (const std::exception&) {  // no thread to be had: run here, unanswering
    Py_BEGIN_ALLOW_THREADS;
    run();
    Py_END_ALLOW_THREADS;
    return true;
  }
  bool stopped = false;
  for (bool done = false;;) {
    // Heard at once, and then at every wake-up: a signal the progress
    // call itself raised too.
    PyObject* called = nullptr;
    if (!stopped && PyErr_CheckSignals() == 0 && progress != Py_None) {
      called = PyObject_CallFunction(progress, "nn", static_cast<Py_ssize_t>(events.done.load()),
                                     static_cast<Py_ssize_t>(events.found.load()));
      if (called != nullptr) PyErr_CheckSignals();
    }
    Py_XDECREF(called);
    if (!stopped && PyErr_Occurred()) {
      stopped = true;
      events.stop = true;
    }
    if (done) break;
    Py_BEGIN_ALLOW_THREADS;
    std::unique_lock<std::mutex> guard(lock);
    done = ended.wait_for(guard, std::chrono::milliseconds(200), [&] { return finished; });
    Py_END_ALLOW_THREADS;
  }
  Py_BEGIN_ALLOW_THREADS;
  runner.join();
  Py_END_ALLOW_THREADS;
  return !stopped;
}

PyObject* convert_tree(PyObject* module, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"in_dir", "out_dir", "clut", "jobs", "progress", nullptr};
  PyObject *in_object, *out_object, *clut_object = Py_None, *jobs_object = Py_None,
                                    *progress = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$OOO:convert_tree",
                                   const_cast<char**>(keywords), &in_object, &out_object,
                                   &clut_object, &jobs_object, &progress) ||
      !ready(module)) {
    return nullptr;
  }
  if (progress != Py_None && !PyCallable_Check(progress)) {
    PyErr_SetString(PyExc_TypeError, "progress must be callable");
    return nullptr;
  }
  path_argument in, out, clut;
  if (!in.take(in_object) || !out.take(out_object) ||
      (clut_object != Py_None && !clut.take(clut_object))) {
    return nullptr;
  }
  tree_options options;
  if (jobs_object != Py_None) {
    const long jobs = PyLong_AsLong(jobs_object);
    if (jobs == -1 && PyErr_Occurred()) return nullptr;
    if (jobs < 1 || jobs > 1024) {
      PyErr_SetString(PyExc_ValueError,
                      "jobs must be from 1 to 1024, or None for one per processor");
      return nullptr;
    }
    options.jobs = static_cast<unsigned>(jobs);
  }
  std::vector<tree_failure> failures;
  tree_events events;
  tree_result result;
  try {
    options.in_dir = in.argument();
    options.out_dir = out.argument();
    if (clut_object != Py_None) options.clut = clut.argument();
    events.report = [&failures](const tree_failure& failure) { failures.push_back(failure); };
    if (!run_tree_answering(options, events, progress, result)) return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  if (result.could_not_start) {
    return raise_file_error(module, *result.could_not_start, result.error_number, in_object, -1);
  }
  if (result.could_not_go_on) return PyErr_NoMemory();
  if (progress != Py_None) {  // the last word: everything found is done
    PyObject* called = PyObject_CallFunction(progress, "nn", static_cast<Py_ssize_t>(events.done),
                                             static_cast<Py_ssize_t>(events.found));
    if (called == nullptr) return nullptr;
    Py_DECREF(called);
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(failures.size()));
  for (std::size_t i = 0; list != nullptr && i < failures.size(); ++i) {
    const std::string& path = failures[i].path;
    PyObject* pair = Py_BuildValue(
        "(NN)", PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())),
        line_text(failures[i].line));
    if (pair == nullptr) Py_CLEAR(list);
    if (list != nullptr) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), pair);
  }
  return list == nullptr ? nullptr
                         : Py_BuildValue("(nN)", static_cast<Py_ssize_t>(result.converted), list);
}

// python -m palfill: the command, whose usage line names the module.
PyObject* run_command(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"args", nullptr};
  PyObject* list;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!:run_command", const_cast<char**>(keywords),
                                   &PyList_Type, &list)) {
    return nullptr;
  }
  std::vector<command_argument> arguments;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    path_argument arg;
    if (!arg.take(PyList_GET_ITEM(list, i))) return nullptr;
    arguments.push_back(arg.argument());
  }
  int status = 1;
  Py_BEGIN_ALLOW_THREADS;
  status = run_palfill(arguments);
  std::fflush(stdout);
  Py_END_ALLOW_THREADS;
  return PyLong_FromLong(status);
}

// The command's line for a result, naming the files as given.
PyObject* line_for_result(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"result", "reading", "clut", "output", nullptr};
  int result;
  PyObject *reading, *clut, *output;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "iO&O&O&:result_line",
                                   const_cast<char**>(keywords), &result, PyUnicode_FSConverter,
                                   &reading, PyUnicode_FSConverter, &clut, PyUnicode_FSConverter,
                                   &output)) {
    return nullptr;
  }
  const std::string line = result_line(palfill_result(result), PyBytes_AS_STRING(reading),
                                       PyBytes_AS_STRING(clut), PyBytes_AS_STRING(output));
  Py_DECREF(reading);
  Py_DECREF(clut);
  Py_DECREF(output);
  return line_text(line);
}

PyObject* line_for_unopened(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"path", nullptr};
  PyObject* path;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O&:cant_open_line", const_cast<char**>(keywords),
                                   PyUnicode_FSConverter, &path)) {
    return nullptr;
  }
  const std::string line = cant_open_line(PyBytes_AS_STRING(path));
  Py_DECREF(path);
  return line_text(line);
}

PyObject* set_up(PyObject* module, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"result_codes", "conversion_error", "file_error", nullptr};
  PyObject *codes, *conversion_error, *file_error;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!OO:_setup", const_cast<char**>(keywords),
                                   &PyTuple_Type, &codes, &conversion_error, &file_error)) {
    return nullptr;
  }
  module_state* state = state_of(module);
  Py_INCREF(codes);
  Py_INCREF(conversion_error);
  Py_INCREF(file_error);
  Py_XSETREF(state->result_codes, codes);
  Py_XSETREF(state->conversion_error, conversion_error);
  Py_XSETREF(state->file_error, file_error);
  Py_RETURN_NONE;
}

PyObject* library_version(PyObject*, PyObject*) {
  return PyUnicode_FromString(palfill_version());
}

template <typename function>
PyCFunction keywords_function(function f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef methods[] = {
    {"convert", keywords_function(convert), METH_VARARGS | METH_KEYWORDS,
     "convert($module, /, png, clut=None)\n--\n\n"
     "The PNG held in `png` with its palette, from the CLUT file held in `clut` or,\n"
     "without one, from the 128 default colours: the bytes the palfill command\n"
     "writes. Each takes any object with the buffer protocol (bytes, bytearray,\n"
     "memoryview, mmap). Any failure raises palfill.ConversionError, whose .data is\n"
     "what the command would leave in its output file. The GIL is released while\n"
     "it converts."},
    {"convert_file", keywords_function(convert_file), METH_VARARGS | METH_KEYWORDS,
     "convert_file($module, /, in_png, out_png, *, clut=None)\n--\n\n"
     "As `palfill IN_PNG [CLUT] OUT_PNG` does: the command's files, in constant\n"
     "memory, with every check the command makes. Paths are str, bytes or\n"
     "os.PathLike. A failure of the bytes raises palfill.ConversionError, after\n"
     "leaving the command's files; a failure of the files raises a palfill.FileError,\n"
     "which is also the OSError subclass Python raises for its cause. The GIL is\n"
     "released while it converts."},
    {"_convert_tree", keywords_function(convert_tree), METH_VARARGS | METH_KEYWORDS,
     "_convert_tree($module, /, in_dir, out_dir, *, clut=None, jobs=None, progress=None)\n--\n\n"
     "palfill-tree's conversion: (converted, [(path, line), ...]); see convert_tree()."},
    {"run_command", keywords_function(run_command), METH_VARARGS | METH_KEYWORDS,
     "run_command($module, /, args)\n--\n\n"
     "The palfill command, `args` the whole command line, its name first; prints its\n"
     "line and returns its exit status."},
    {"result_line", keywords_function(line_for_result), METH_VARARGS | METH_KEYWORDS,
     "result_line($module, /, result, reading, clut, output)\n--\n\n"
     "The command's line for a result, naming the files as given."},
    {"cant_open_line", keywords_function(line_for_unopened), METH_VARARGS | METH_KEYWORDS,
     "cant_open_line($module, /, path)\n--\n\nThe command's line for a file it cannot open."},
    {"_setup", keywords_function(set_up), METH_VARARGS | METH_KEYWORDS,
     "_setup($module, /, result_codes, conversion_error, file_error)\n--\n\n"
     "Hands over the package's results and exceptions."},
    {"library_version", library_version, METH_NOARGS,
     "library_version($module, /)\n--\n\nThe version of the library compiled in."},
    {nullptr, nullptr, 0, nullptr}};

int exec_module(PyObject* module) {
  module_state* state = state_of(module);
  state->result_codes = nullptr;
  state->conversion_error = nullptr;
  state->file_error = nullptr;
  return 0;
}

int traverse(PyObject* module, visitproc visit, void* arg) {
  module_state* state = state_of(module);
  Py_VISIT(state->result_codes);
  Py_VISIT(state->conversion_error);
  Py_VISIT(state->file_error);
  return 0;
}

int clear(PyObject* module) {
  module_state* state = state_of(module);
  Py_CLEAR(state->result_codes);
  Py_CLEAR(state->conversion_error);
  Py_CLEAR(state->file_error);
  return 0;
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT,
                          "palfill._palfill",
                          "palfill's core and driver, compiled in.",
                          sizeof(module_state),
                          methods,
                          slots,
                          traverse,
                          clear,
                          nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__palfill(void) {
  return PyModuleDef_Init(&module_def);
}
