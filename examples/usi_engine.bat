@echo off
rem Starts the komaban USI engine with the project's venv: register this file as
rem the engine's executable in a shogi GUI (ShogiHome, ShogiGUI, Shogidokoro).
"%~dp0..\.venv\Scripts\python.exe" "%~dp0usi_engine.py" %*
