import _tessaron
import tessaron


def test_package_reexports_extension_version():
    assert tessaron.__version__ == "0.0.12"
    assert tessaron.__version__ is _tessaron.__version__
    assert "__version__" in tessaron.__all__
