/* The C floor of checking a list of ints: one METH_O call that tests
 * PyLong_Check on each item of the list's storage.  bench/run.py compiles it
 * at run time (the C compiler and the interpreter's headers) and times it
 * next to `Validator(list[int]).is_valid`: no validator can check a list of
 * ints for less than this loop costs. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyObject *all_ints(PyObject *self, PyObject *list) {
    (void)self;
    if (!PyList_Check(list)) Py_RETURN_FALSE;
    Py_ssize_t n = PyList_GET_SIZE(list);
    PyObject **items = ((PyListObject *)list)->ob_item;
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!PyLong_Check(items[i])) Py_RETURN_FALSE;
    Py_RETURN_TRUE;
}

static PyMethodDef methods[] = {
    {"all_ints", all_ints, METH_O, "True when every item of the list is an int."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_bench_floor", NULL, -1, methods};

PyMODINIT_FUNC PyInit__bench_floor(void) { return PyModule_Create(&module); }
