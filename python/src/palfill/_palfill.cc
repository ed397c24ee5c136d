// palfill's extension, in the manner of CPython's zlib module: the
// library's conversion and the command's runs over Python's buffers and
// paths, arguments parsed by the C API (buffers as Py_buffer through y*,
// paths through PyUnicode_FSConverter), bytes in and bytes out, the GIL
// released while anything converts, the library's results added as
// integer constants. It returns what happened as plain values; the package
// above (__init__.py) raises its exceptions from them. Python's own
// failures (memory, an argument of the wrong type, Ctrl-C) raise here.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

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

// A line of the command, its newline left out, as Python shows a name the
// file system gave it: os.fsdecode(), never an exception.
PyObject* line_text(const std::string& line) {
  const std::size_t size = !line.empty() && line.back() == '\n' ? line.size() - 1 : line.size();
  return PyUnicode_DecodeFSDefaultAndSize(line.data(), static_cast<Py_ssize_t>(size));
}

// A path as the command takes it, from a str, bytes or os.PathLike through
// PyUnicode_FSConverter (a NUL raises ValueError); None for an optional one
// leaves it unset. Filled by the O& converter take_path(), it holds the
// bytes object until it goes.
struct path_argument {
  PyObject* bytes = nullptr;
  path_argument() = default;
  path_argument(const path_argument&) = delete;
  path_argument& operator=(const path_argument&) = delete;
  ~path_argument() { Py_XDECREF(bytes); }
  bool given() const { return bytes != nullptr; }
  command_argument argument() const {
    const std::string name(PyBytes_AS_STRING(bytes),
                           static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    return command_argument{native_path(name), name};
  }
};

int take_path(PyObject* object, void* into) {
  auto* path = static_cast<path_argument*>(into);
  if (object == Py_None) return 1;
  return PyUnicode_FSConverter(object, &path->bytes) ? 1 : 0;
}

// Runs `work` with the GIL released; false, with MemoryError raised, when
// it ran out of memory.
template <typename Work>
bool without_gil(Work work) {
  bool out_of_memory = false;
  Py_BEGIN_ALLOW_THREADS;
  try {
    work();
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  Py_END_ALLOW_THREADS;
  if (out_of_memory) PyErr_NoMemory();
  return !out_of_memory;
}

// convert(png, clut, png_name, clut_name) -> (result, data, line): `data`
// what the command leaves in its output file (None when it makes none),
// `line` the command's line for a failure, naming the files by the names
// given ("" on success).
PyObject* convert(PyObject*, PyObject* args) {
  Py_buffer png, clut{};
  PyObject *clut_object, *png_name, *clut_name;  // names made into text for a failure alone
  if (!PyArg_ParseTuple(args, "y*OOO:convert", &png, &clut_object, &png_name, &clut_name)) {
    return nullptr;
  }
  const bool has_clut = clut_object != Py_None;
  if (has_clut && !PyArg_Parse(clut_object, "y*:convert", &clut)) {
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
                                  static_cast<size_t>(clut.len), out, bound, &size);
    Py_END_ALLOW_THREADS;
  }
  PyBuffer_Release(&png);
  if (has_clut) PyBuffer_Release(&clut);
  if (data == nullptr || _PyBytes_Resize(&data, static_cast<Py_ssize_t>(size)) != 0) {
    return nullptr;  // Python's own memory ran out: MemoryError
  }
  if (result == PALFILL_FINISHED) return Py_BuildValue("(iNs)", 0, data, "");
  if (is_clut_failure(result)) Py_SETREF(data, (Py_INCREF(Py_None), Py_None));
  path_argument reading, clut_named;
  if (!take_path(png_name, &reading) || !take_path(clut_name, &clut_named)) {
    Py_DECREF(data);
    return nullptr;
  }
  try {
    return Py_BuildValue("(iNN)", static_cast<int>(result), data,
                         line_text(result_line(result, reading.argument().text,
                                               clut_named.argument().text, "<output>")));
  } catch (const std::bad_alloc&) {
    Py_DECREF(data);
    return PyErr_NoMemory();
  }
}

// convert_file(in_png, out_png, clut) -> None, or (line, result,
// file_failure, role, errno) for a failure: `role` 0 for the input, 1 the
// CLUT, 2 the output; `result` -1 where the library never ran, `errno` 0
// where no call failed.
PyObject* convert_file(PyObject*, PyObject* args) {
  path_argument in, out, clut;
  if (!PyArg_ParseTuple(args, "O&O&O&:convert_file", take_path, &in, take_path, &out, take_path,
                        &clut)) {
    return nullptr;
  }
  file_conversion done{};
  const bool ran = without_gil([&] {
    const command_argument input = in.argument(), output = out.argument();
    if (clut.given()) {
      const command_argument colours = clut.argument();
      done = convert_files(input, &colours, output);
    } else {
      done = convert_files(input, nullptr, output);
    }
  });
  if (!ran) return nullptr;
  if (done.status == 0) Py_RETURN_NONE;
  using role = file_conversion::role;
  const int failed = done.failed_file == role::clut ? 1 : done.failed_file == role::output ? 2 : 0;
  return Py_BuildValue("(Niiii)", line_text(done.line), done.result, done.file_failure ? 1 : 0,
                       failed, done.error_number);
}

// Runs a tree on a thread of its own while this one, the caller's, answers
// Ctrl-C and calls `progress` with (done, found) at once and then five
// times a second. Either raising tells the run to stop; it then ends within
// a moment, leaving what an interrupted palfill leaves. False, with the
// exception set, when the run was stopped.
template <typename Run>
bool run_answering(Run run, tree_events& events, PyObject* progress) {
  std::mutex lock;
  std::condition_variable ended;
  bool finished = false;
  const auto in_turn = [&] {
    run();
    const std::lock_guard<std::mutex> guard(lock);
    finished = true;
    ended.notify_all();
  };
  std::thread runner;
  try {
    runner = std::thread(in_turn);
  } catch (const std::exception&) {  // no thread to be had: run here, unanswering
    return without_gil(run);
  }
  bool stopped = false;
  for (bool done = false;;) {
    // Heard at once, then at every wake-up: a signal the progress call
    // itself raised too.
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

// A plan's entry from Python: four str or bytes, taken as the file
// system's bytes.
bool plan_entry_of(PyObject* item, std::size_t number, plan_entry& entry) {
  entry.who = "<plan>:" + std::to_string(number);
  PyObject* fields = PySequence_Fast(item, "a plan holds (output, input, clut, why) entries");
  if (fields == nullptr) return false;
  const bool four = PySequence_Fast_GET_SIZE(fields) == 4;
  entry.failure = four ? "" : not_a_plan_line();
  std::string* const into[] = {&entry.fields.output, &entry.fields.input, &entry.fields.clut,
                               &entry.fields.why};
  for (Py_ssize_t i = 0; four && i < 4; ++i) {
    PyObject* bytes = nullptr;
    if (!PyUnicode_FSConverter(PySequence_Fast_GET_ITEM(fields, i), &bytes)) {
      Py_DECREF(fields);
      return false;
    }
    into[i]->assign(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    Py_DECREF(bytes);
  }
  Py_DECREF(fields);
  return true;
}

PyObject* fs_text(const std::string& text) {
  return PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// convert_tree(in_dir, out_dir, clut, jobs, progress, plan) ->
// (converted, [(path, line), ...], could_not_start, errno): palfill-tree's
// run, over the walk, or over `plan`, an iterable of entries. A run that
// could not start gives its line; one that could not go on raises
// MemoryError.
PyObject* convert_tree(PyObject*, PyObject* args) {
  path_argument in, out, clut;
  unsigned jobs = 0;
  PyObject *progress, *plan;
  if (!PyArg_ParseTuple(args, "O&O&O&IOO:convert_tree", take_path, &in, take_path, &out, take_path,
                        &clut, &jobs, &progress, &plan)) {
    return nullptr;
  }
  tree_options options;
  options.jobs = jobs;
  std::vector<plan_entry> entries;
  std::vector<tree_failure> failures;
  tree_events events;
  tree_result result;
  try {
    options.in_dir = in.argument();
    options.out_dir = out.argument();
    if (clut.given()) options.clut = clut.argument();
    if (plan != Py_None) {
      PyObject* iterator = PyObject_GetIter(plan);
      if (iterator == nullptr) return nullptr;
      for (PyObject* item; (item = PyIter_Next(iterator)) != nullptr;) {
        entries.emplace_back();
        const bool taken = plan_entry_of(item, entries.size(), entries.back());
        Py_DECREF(item);
        if (!taken) break;
      }
      Py_DECREF(iterator);
      if (PyErr_Occurred()) return nullptr;
    }
    events.report = [&failures](const tree_failure& failure) { failures.push_back(failure); };
    std::size_t next = 0;
    const plan_source rows = [&](plan_entry& entry) {
      if (next == entries.size()) return false;
      entry = entries[next++];
      return true;
    };
    const bool ran = run_answering(
        [&] {
          result = plan != Py_None ? convert_plan(options, rows, events)
                                   : palfill::convert_tree(options, events);
        },
        events, progress);
    if (!ran) return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  if (result.could_not_go_on) return PyErr_NoMemory();
  if (progress != Py_None && !result.could_not_start) {  // the last word: all found is done
    PyObject* called =
        PyObject_CallFunction(progress, "nn", static_cast<Py_ssize_t>(events.done.load()),
                              static_cast<Py_ssize_t>(events.found.load()));
    if (called == nullptr) return nullptr;
    Py_DECREF(called);
  }
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(failures.size()));
  for (std::size_t i = 0; list != nullptr && i < failures.size(); ++i) {
    PyObject* pair = Py_BuildValue("(NN)", fs_text(failures[i].path), line_text(failures[i].line));
    if (pair == nullptr) Py_CLEAR(list);
    if (list != nullptr) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), pair);
  }
  if (list == nullptr) return nullptr;
  return Py_BuildValue(
      "(nNNi)", static_cast<Py_ssize_t>(result.converted), list,
      result.could_not_start ? line_text(*result.could_not_start) : (Py_INCREF(Py_None), Py_None),
      result.error_number);
}

// plan_tree(in_dir, clut) -> ([(output, input, clut, why), ...],
// could_not_start, errno): palfill-tree --plan's rows, unescaped.
PyObject* plan_tree(PyObject*, PyObject* args) {
  path_argument in, clut;
  if (!PyArg_ParseTuple(args, "O&O&:plan_tree", take_path, &in, take_path, &clut)) return nullptr;
  std::vector<plan_fields> rows;
  tree_options options;
  tree_events events;
  events.report = [](const tree_failure&) {};  // a document that cannot be read: no row
  tree_result result;
  const bool ran = without_gil([&] {
    options.in_dir = in.argument();
    if (clut.given()) options.clut = clut.argument();
    result = palfill::plan_tree(
        options, [&rows](const plan_fields& fields) { rows.push_back(fields); }, events);
  });
  if (!ran) return nullptr;
  if (result.could_not_go_on) return PyErr_NoMemory();
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(rows.size()));
  for (std::size_t i = 0; list != nullptr && i < rows.size(); ++i) {
    const plan_fields& row = rows[i];
    PyObject* entry = Py_BuildValue("(NNNN)", fs_text(row.output), fs_text(row.input),
                                    fs_text(row.clut), fs_text(row.why));
    if (entry == nullptr) Py_CLEAR(list);
    if (list != nullptr) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), entry);
  }
  if (list == nullptr) return nullptr;
  return Py_BuildValue(
      "(NNi)", list,
      result.could_not_start ? line_text(*result.could_not_start) : (Py_INCREF(Py_None), Py_None),
      result.error_number);
}

// run_command(args) -> status: python -m palfill, the command, whose usage
// line names the module.
PyObject* run_command(PyObject*, PyObject* list) {
  if (!PyList_Check(list)) {
    PyErr_SetString(PyExc_TypeError, "run_command() takes a list");
    return nullptr;
  }
  std::vector<command_argument> arguments;
  try {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
      path_argument arg;
      if (!take_path(PyList_GET_ITEM(list, i), &arg)) return nullptr;
      arguments.push_back(arg.argument());
    }
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  int status = 1;
  Py_BEGIN_ALLOW_THREADS;
  status = run_palfill(arguments);
  std::fflush(stdout);
  Py_END_ALLOW_THREADS;
  return PyLong_FromLong(status);
}

// result_line(result, reading, clut, output) and cant_open_line(path): the
// command's lines, naming the files as given.
PyObject* line_for_result(PyObject*, PyObject* args) {
  int result;
  path_argument reading, clut, output;
  if (!PyArg_ParseTuple(args, "iO&O&O&:result_line", &result, take_path, &reading, take_path, &clut,
                        take_path, &output)) {
    return nullptr;
  }
  try {
    return line_text(result_line(palfill_result(result), reading.argument().text,
                                 clut.argument().text, output.argument().text));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* line_for_unopened(PyObject*, PyObject* args) {
  path_argument path;
  if (!PyArg_ParseTuple(args, "O&:cant_open_line", take_path, &path)) return nullptr;
  try {
    return line_text(cant_open_line(path.argument().text));
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyMethodDef methods[] = {
    {"convert", convert, METH_VARARGS,
     "convert(png, clut, png_name, clut_name, /)\n--\n\n"
     "(result, data, line): the PNG held in `png` with its palette from the CLUT file\n"
     "held in `clut` (None: the default colours), as libpalfill converts it."},
    {"convert_file", convert_file, METH_VARARGS,
     "convert_file(in_png, out_png, clut, /)\n--\n\n"
     "None, or (line, result, file_failure, role, errno): `palfill IN [CLUT] OUT`."},
    {"convert_tree", convert_tree, METH_VARARGS,
     "convert_tree(in_dir, out_dir, clut, jobs, progress, plan, /)\n--\n\n"
     "(converted, failures, could_not_start, errno): palfill-tree's run."},
    {"plan_tree", plan_tree, METH_VARARGS,
     "plan_tree(in_dir, clut, /)\n--\n\n"
     "(rows, could_not_start, errno): palfill-tree --plan's rows."},
    {"run_command", run_command, METH_O,
     "run_command(args, /)\n--\n\n"
     "The palfill command, `args` the whole command line, its name first; prints its\n"
     "line and returns its exit status."},
    {"result_line", line_for_result, METH_VARARGS,
     "result_line(result, reading, clut, output, /)\n--\n\n"
     "The command's line for a result, naming the files as given."},
    {"cant_open_line", line_for_unopened, METH_VARARGS,
     "cant_open_line(path, /)\n--\n\nThe command's line for a file it cannot open."},
    {nullptr, nullptr, 0, nullptr}};

// The library's version and its results, each a constant named as
// palfill.h names it without the prefix; RESULTS lists the names by value.
int exec_module(PyObject* module) {
  if (PyModule_AddStringConstant(module, "__version__", palfill_version()) != 0) return -1;
  PyObject* names = PyList_New(0);
  if (names == nullptr) return -1;
  for (int value = 0;; ++value) {
    const char* name = result_name(palfill_result(value));
    if (name == nullptr) break;
    PyObject* text = PyUnicode_FromString(name);
    const bool added = text != nullptr && PyList_Append(names, text) == 0 &&
                       PyModule_AddIntConstant(module, name, value) == 0;
    Py_XDECREF(text);
    if (!added) {
      Py_DECREF(names);
      return -1;
    }
  }
  PyObject* results = PyList_AsTuple(names);
  Py_DECREF(names);
  if (results == nullptr || PyModule_AddObject(module, "RESULTS", results) == 0) {
    return results == nullptr ? -1 : 0;
  }
  Py_DECREF(results);
  return -1;
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT,
                          "palfill._palfill",
                          "palfill's core and driver, compiled in.",
                          0,
                          methods,
                          slots,
                          nullptr,
                          nullptr,
                          nullptr};

}  // namespace

PyMODINIT_FUNC PyInit__palfill(void) {
  return PyModuleDef_Init(&module_def);
}
