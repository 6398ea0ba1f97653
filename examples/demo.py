"""Prints the SDK version and the module's enumerations."""

import pyvantorsdk
from pyvantorsdk._cpp import _pyvantorsdk_cpp as native


def main() -> None:
    print(f"pyvantorsdk {pyvantorsdk.__version__}")
    print(native.__doc__)
    for name in sorted(n for n in dir(native) if hasattr(getattr(native, n), "__members__")):
        members = ", ".join(f"{m}={int(getattr(v, 'value', v))}" for m, v in getattr(native, name).__members__.items())
        print(f"  {name}: {members}")


if __name__ == "__main__":
    main()
