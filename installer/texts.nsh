; Installer texts, English and Simplified Chinese; the system's language
; picks one, as it picks the program's string table.

LangString SecAutostart ${LANG_ENGLISH} "Start ${PRODUCT} when I sign in"
LangString SecAutostart ${LANG_SIMPCHINESE} "登录时启动 ${PRODUCT}"

LangString SecRemoveLogs ${LANG_ENGLISH} "Also remove logs"
LangString SecRemoveLogs ${LANG_SIMPCHINESE} "同时删除日志"

LangString AskingExit ${LANG_ENGLISH} "Asking the running ${PRODUCT} to exit"
LangString AskingExit ${LANG_SIMPCHINESE} "正在请求运行中的 ${PRODUCT} 退出"

LangString StillRunning ${LANG_ENGLISH} "${PRODUCT} in $INSTDIR did not exit in time. Choose Exit in its notification-area menu, then run setup again. Nothing has been changed."
LangString StillRunning ${LANG_SIMPCHINESE} "$INSTDIR 中的 ${PRODUCT} 未能及时退出。请在它的通知区域菜单中选择“退出”，然后重新运行安装程序。没有做任何更改。"

LangString UnStillRunning ${LANG_ENGLISH} "${PRODUCT} in $INSTDIR did not exit in time. Choose Exit in its notification-area menu, then uninstall again. Nothing has been removed."
LangString UnStillRunning ${LANG_SIMPCHINESE} "$INSTDIR 中的 ${PRODUCT} 未能及时退出。请在它的通知区域菜单中选择“退出”，然后重新卸载。没有删除任何文件。"

LangString AgentKept ${LANG_ENGLISH} "Kept the agent already in place: $INSTDIR\bin\Tollvane.exe"
LangString AgentKept ${LANG_SIMPCHINESE} "保留已有的代理程序：$INSTDIR\bin\Tollvane.exe"

LangString BinKept ${LANG_ENGLISH} "Kept $INSTDIR\bin: it holds files that setup did not install."
LangString BinKept ${LANG_SIMPCHINESE} "保留了 $INSTDIR\bin：其中有不是由安装程序安装的文件。"

LangString Need64Bit ${LANG_ENGLISH} "This setup is for 64-bit Windows. On this computer, use QuorvelTollvane-${VERSION}-setup-win32.exe."
LangString Need64Bit ${LANG_SIMPCHINESE} "此安装程序适用于 64 位 Windows。在这台计算机上，请使用 QuorvelTollvane-${VERSION}-setup-win32.exe。"

LangString FolderTooLong ${LANG_ENGLISH} "The folder $INSTDIR is too long: ${PRODUCT} works in a folder of at most ${MAX_FOLDER_CHARS} characters (its output pipe's name allows no more). Choose a shorter folder."
LangString FolderTooLong ${LANG_SIMPCHINESE} "文件夹 $INSTDIR 的路径太长：${PRODUCT} 只能安装在不超过 ${MAX_FOLDER_CHARS} 个字符的文件夹中（其输出管道的名称不允许更长）。请选择较短的文件夹。"
