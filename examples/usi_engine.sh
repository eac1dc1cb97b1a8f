#!/bin/sh
# Starts the komaban USI engine with the project's venv: register this file as
# the engine's executable in a shogi GUI (ShogiHome, ShogiGUI, Shogidokoro).
# KOMABAN_PYTHON names another interpreter, one that has komaban installed.
here=$(cd "$(dirname "$0")" && pwd)
exec "${KOMABAN_PYTHON:-$here/../.venv/bin/python}" "$here/usi_engine.py" "$@"
