@echo off
rem Adds "Tillerbrookmint" to this user's Send To menu: a shortcut to the
rem tillerbrookmint.exe beside this script. Running it again replaces the
rem shortcut, so after moving the folder run it once more.
rem Every path stays in double quotes: a folder's name may hold & ) ^ or !.
setlocal DisableDelayedExpansion
set "exe=%~dp0tillerbrookmint.exe"
set "sendto=%APPDATA%\Microsoft\Windows\SendTo"
set "link=%APPDATA%\Microsoft\Windows\SendTo\Tillerbrookmint.lnk"
set "vbs=%TEMP%\tillerbrookmint-sendto-%RANDOM%.vbs"
set status=1
if not exist "%exe%" (
  echo tillerbrookmint.exe is not in this script's folder "%~dp0".
  goto end
)
if not exist "%sendto%\" mkdir "%sendto%"
if exist "%link%" del "%link%"
rem Windows makes shortcuts through its script host: three lines of
rem VBScript in the temporary folder, removed after use.
> "%vbs%" echo Set link = CreateObject("WScript.Shell").CreateShortcut(WScript.Arguments(0))
>> "%vbs%" echo link.TargetPath = WScript.Arguments(1)
>> "%vbs%" echo link.Save
cscript //nologo "%vbs%" "%link%" "%exe%"
del "%vbs%"
if not exist "%link%" (
  echo Could not create the shortcut "%link%".
  goto end
)
echo Added Tillerbrookmint to the Send To menu: the shortcut
echo "%link%"
echo opens "%exe%".
echo Select photos in Explorer, right-click them and choose Send to, Tillerbrookmint.
set status=0
:end
rem A window opened by a double-click stays until a key is pressed.
pause
exit /b %status%
