"""The compiled core of pyvantorsdk (``_pyvantorsdk_cpp``)."""
