@echo off
rem The full example's program: shows what it was started with.
echo QV Full Example %*
