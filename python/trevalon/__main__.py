"""`python -m trevalon`: the command-line interface (see `trevalon --help`)."""
import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
