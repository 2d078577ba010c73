// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDD_ABOUTBOX 100
#define IDR_MAINFRAME 128
#define IDD_MAINDLG 129
#define IDR_TRAY_MENU 202
#define IDI_AGENT_STOPPED 204
#define IDC_LOG_EDIT 1000
#define IDC_LOG_LABEL 1001
#define ID_HIDE 5
#define ID_AGENT_START 32786
#define ID_AGENT_STOP 32787
#define ID_SHOW_WINDOW 32790
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665

#define IDS_TRAY_TIP 129
#define IDS_START 130
#define IDS_RESTART 131
#define IDS_STOP 132
#define IDS_HIDE 134
#define IDS_ABOUT 135
#define IDS_EXIT 136
#define IDS_SHOW_WINDOW 137
#define IDS_HIDE_WINDOW 138
#define IDS_BALLOON_CRASH_LOOP 139
#define IDS_BALLOON_MISSING 140
#define IDS_LOG_COPY 141
#define IDS_LOG_SELECT_ALL 142
#define IDS_LOG_SAVE_AS 143
#define IDS_LOG_OPEN_FOLDER 144
#define IDS_LOG_CLEAR 145
#define IDS_LOG_SAVE_FILTER 146
#define IDS_LOG_LABEL 147
#define IDS_JOURNAL_NO_FOLDER 170
#define IDS_JOURNAL_CANNOT_WRITE 171
// The tooltip's note about the journal ({error} is filled in).
#define IDS_TIP_JOURNAL_OFF 172
#define IDS_TIP_JOURNAL_FAILING 173
// The journal's writer could not start or stopped on an error.
#define IDS_TIP_JOURNAL_STOPPED 174
#define IDS_JOURNAL_STOPPED 175

// The tray tooltip's agent line ({time}, {pid}, {count}, {reason} are filled
// in), and the balloons about a launch that keeps failing and an exit's code.
#define IDS_TIP_RUNNING 160
#define IDS_TIP_STOPPING 161
#define IDS_TIP_PAUSED 162
#define IDS_TIP_STOPPED 163
#define IDS_TIP_MISSING 164
#define IDS_TIP_CANNOT_LAUNCH 165
#define IDS_BALLOON_LAUNCH_FAILED 166

// The supervisor's own notes (tooltip line and balloon): the output pipe's
// name is another program's, or too long to exist ({limit} is filled in).
#define IDS_NOTE_PIPE_HELD 180
#define IDS_NOTE_PIPE_TOO_LONG 181
// The pipe server's thread, or the agent's watch thread, could not start
// ({error} is filled in).
#define IDS_NOTE_NO_PIPE_SERVER 182
#define IDS_NOTE_NOT_WATCHED 183

// A second start that finds this installation's supervisor running with no
// window it can reach.
#define IDS_RUNNING_UNSEEN 184

// The watchdogs: the tray menu's two submenus and their choices ({n} is
// filled in), the tooltip's line and note ({what}, {amount}, {time}), and
// the balloons of a restart ({amount}, {bound}).
#define IDS_MENU_RESTART_SILENT 190
#define IDS_MENU_RESTART_MEMORY 191
#define IDS_WATCH_OFF 192
#define IDS_WATCH_MINUTES 193
#define IDS_TIP_WATCHING 194
#define IDS_TIP_WATCH_SILENCE 195
#define IDS_TIP_WATCH_MEMORY 196
#define IDS_NOTE_SILENT 197
#define IDS_BALLOON_SILENT 198
#define IDS_BALLOON_MEMORY 199
// The tray menu's watchdog choices: silence from the first id (Off, 1, 5,
// 15, 60 minutes), memory from the second (Off, 256 MB to 4 GB).
#define ID_WATCH_SILENT_FIRST 32840
#define ID_WATCH_MEMORY_FIRST 32850
// The reason a launch is not tried, for the agent line's {reason}: the agent
// asks for administrator rights, and only the user's own Start may raise the
// consent prompt.
#define IDS_REASON_NEEDS_ADMIN 185

// The diagnostics bundle ({path}, {error} are filled in), the log view's
// Find ({text}) and the balloon of an agent that stopped ({code}, {time}).
#define IDS_LOG_SAVE_DIAGNOSTICS 300
#define IDS_DIAGNOSTICS_FILTER 301
#define IDS_DIAGNOSTICS_FAILED 302
#define IDS_FIND_CANNOT_FIND 303
#define IDS_BALLOON_STOPPED 304
#define IDS_BALLOON_EXIT_CODE 305

// The log view's context menu.
#define ID_LOG_COPY 32800
#define ID_LOG_SELECT_ALL 32801
#define ID_LOG_SAVE_AS 32802
#define ID_LOG_OPEN_FOLDER 32803
#define ID_LOG_CLEAR 32804
#define ID_LOG_SAVE_DIAGNOSTICS 32830

#define IDC_ABOUT_VERSION 2
#define IDC_ABOUT_COPYRIGHT 3

#define TOLLVANE_VERSION_LABEL L"V1.6(A1610127)"
#define TOLLVANE_FILE_VERSION 1, 6, 1610, 127
#define TOLLVANE_FILE_VERSION_STR "1.6.1610.127"

// The history window: the agent's runs from the journal, the timeline strip
// and the search. ID_APP_HISTORY opens it from the tray menu and the log
// view's menu.
#define ID_APP_HISTORY 32820
#define IDS_HISTORY_MENU 400
#define IDS_HISTORY_TITLE 401
#define IDS_HISTORY_SEARCH_LABEL 402
#define IDS_HISTORY_FIND 403
#define IDS_HISTORY_DAY 404
#define IDS_HISTORY_WEEK 405
#define IDS_HISTORY_RUNS_LABEL 406
#define IDS_HISTORY_HITS_LABEL 407
#define IDS_HISTORY_DETAIL_LABEL 408
#define IDS_HISTORY_COPY 409
#define IDS_HISTORY_COLUMNS 410
#define IDS_HISTORY_HIT_COLUMNS 411
#define IDS_HISTORY_UNITS 412
#define IDS_HISTORY_END_RUNNING 413
#define IDS_HISTORY_END_EXITED 414
#define IDS_HISTORY_END_ASKED 415
#define IDS_HISTORY_END_FORCED 416
#define IDS_HISTORY_END_SUPERVISOR 417
#define IDS_HISTORY_END_SESSION 418
#define IDS_HISTORY_END_LAUNCH 419
#define IDS_HISTORY_CAUSES 420
#define IDS_HISTORY_UNKNOWN_START 421
#define IDS_HISTORY_SUMMARY 422
#define IDS_HISTORY_LAST_LINES 423
#define IDS_HISTORY_END_LINE 424
#define IDS_HISTORY_UNREADABLE 425
#define IDS_HISTORY_READING 426
#define IDS_HISTORY_READ 427
#define IDS_HISTORY_SKIPPED 428
#define IDS_HISTORY_SEARCHING 429
#define IDS_HISTORY_HITS 430
#define IDS_HISTORY_BOUNDED 431
#define IDS_HISTORY_NO_JOURNAL 432
#define IDS_HISTORY_STRIP 433
#define IDS_HISTORY_MARKS 434
#define IDS_HISTORY_MARK_TIP 435
#define IDS_LOG_HISTORY 436
