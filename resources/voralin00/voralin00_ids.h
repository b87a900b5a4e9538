/* Resource and command ids of voralin00, shared by the .rc files and the C++ code.
   Only #defines here: windres reads this file too. */
#ifndef VORALIN00_IDS_H
#define VORALIN00_IDS_H

/* Icon-bar buttons (control ids) */
#define IDB_GAP 0x71
#define IDB_OPEN 0x72
#define IDB_MODE 0x73
#define IDB_FFT 0x74
#define IDB_MASK 0x75
#define IDB_FFT_1 0x76
#define IDB_COPY 0x77
#define IDB_SAVEAS 0x78
#define IDB_SAVEGR 0x79
#define IDB_GAMMA 0x7a
#define IDB_ABOUT 0x7b
#define IDB_HELP 0x7c
#define IDB_EXIT 0x7d
#define IDB_SPACE 0x7e

/* Commands sent by the icon bar */
#define IDM_OPEN 101
#define IDM_FFTMODE 102
#define IDM_FFT 103
#define IDM_FILTER 104
#define IDM_INVERSE 105
#define IDM_COPY 106
#define IDM_SAVEBMP 107
#define IDM_SAVEFILE 108
#define IDM_PROCESS 109
#define IDM_ABOUT 110
#define IDM_HELP 111
#define IDM_EXIT 112

/* System menu */
#define IDM_SPECIAL 157

/* Open dialog child templates and their information line */
#define IDD_OPENCHILD 161
#define IDD_OPENCHILD_J 162
#define IDC_IMAGEINFO 160

/* About box */
#define IDC_ABOUTICON 127

/* FFTMODE_DLG */
#define IDC_LINEAR 128
#define IDC_LOGSCALE 129
#define IDC_UPPERCLIP 130
#define IDC_ROOTPOWER 145
#define IDC_AMPLITUDE 146
#define IDC_PHASE 147
#define IDC_CROSSMARK 148
#define IDC_LINEWAVE 149
#define IDC_ANGLE 150
#define IDC_LOWERCLIPON 151
#define IDC_LOWERCLIP 152
#define IDC_NORMAL 153
#define IDC_INVERTED 154
#define IDC_RAINBOW 155

/* SPECIALSET_DLG, SPECIALSET_DLG2 */
#define IDC_EXPANDYES 158
#define IDC_EXPANDNO 159
#define IDC_WAVERED 163
#define IDC_WAVEGREEN 164
#define IDC_WAVEBLUE 165
#define IDC_AVERAGING 166
#define IDC_ZOOM 167

/* SETMASK_DLG, SETMASK_DLG2 */
#define IDC_NOFILTER 131
#define IDC_LOWPASS 132
#define IDC_HIGHPASS 133
#define IDC_BANDPASS 134
#define IDC_BANDCUT 135
#define IDC_DARK 136
#define IDC_BRIGHT 137
#define IDC_WA 138
#define IDC_WB 139
#define IDC_SHOWCIRCLES 140
#define IDC_KEEPBRIGHTNESS 156
#define IDC_STEPBACK 168
#define IDC_STEPFORWARD 169
#define IDC_PLUS10 170
#define IDC_PLUS1 171
#define IDC_MINUS1 172
#define IDC_MINUS10 173

/* SETMASKBASE_DLG */
#define IDC_STANDARD 174
#define IDC_SPECIAL 175
#define IDC_CIRCLESOUT 176
#define IDC_CIRCLESIN 177

/* BMPPROCESS_DLG */
#define IDC_CONTRASTUP 141
#define IDC_CONTRASTDOWN 142
#define IDC_BRIGHTUP 143
#define IDC_BRIGHTDOWN 144

/* Lattice tools: system-menu commands (multiples of 16) and their dialogs. */
#define IDM_FINDSPOTS 0x300
#define IDM_LATTICEFILTER 0x310
#define IDM_SYMMETRIC 0x320
#define IDM_REMOVEDPART 0x330
#define IDM_RADIAL 0x340
#define IDM_WINDOWED 0x350
#define IDM_WHOLEFRAME 0x360
#define IDC_SPOTLIST 400
#define IDC_SPOTBASIS 401
#define IDC_SPOTRADIUS 402
#define IDC_MASKSPOTS 403
#define IDC_MASKLATTICE 404
#define IDC_SPOTHEADER 405
#define IDC_LATNONE 410
#define IDC_LATKEEP 411
#define IDC_LATREMOVE 412
#define IDC_WIENER 413
#define IDC_ABSF 414
#define IDC_G1X 415
#define IDC_G1Y 416
#define IDC_G2X 417
#define IDC_G2Y 418
#define IDC_LATRADIUS 419
#define IDC_EDGESIGMA 420
#define IDC_NOISESCALE 421
#define IDC_SMOOTHING 422
#define IDC_PLOTAREA 430
#define IDC_WINDOWEDFRAME 431
#define IDC_WHOLEFRAME 432

/* Microscope images: the calibration command and its dialog. */
#define IDM_CALIBRATION 0x370
#define IDC_PIXELSIZE 440
#define IDC_CALIBINFO 441

/* Stacks: the "Image..." command and its dialog. */
#define IDM_STACKIMAGE 0x380
/* Live FFT: the system-menu command of the box over the image; the live window's menu and its
   status and readout lines. */
#define IDM_LIVEFFT 0x3C0
#define IDM_LIVE_BOX64 0x3D0
#define IDM_LIVE_BOX128 0x3D1
#define IDM_LIVE_BOX256 0x3D2
#define IDM_LIVE_BOX512 0x3D3
#define IDM_LIVE_BOX1024 0x3D4
#define IDM_LIVE_REGION 0x3D5
#define IDM_LIVE_COPY 0x3D6
#define IDM_LIVE_SAVE 0x3D7
#define IDC_LIVESTATUS 100
#define IDC_LIVEREADOUT 101
#define IDC_IMAGENUMBER 442
#define IDC_STACKINFO 443

/* Binning of the next images opened: the "Binning" submenu of the system menu. */
#define IDM_BINNING1 0x390
#define IDM_BINNING2 0x3A0
#define IDM_BINNING4 0x3B0

/* The context menu's commands that neither the icon bar nor the system menu has, and the keys
   that run commands of their own (the key table names them all). */
#define IDM_BACKTOSPECTRUM 0x500
#define IDM_REMOVECIRCLE 0x510
#define IDM_PREVIMAGE 0x520
#define IDM_NEXTIMAGE 0x530
#define IDM_LIVEEND 0x540
#define IDM_LIVELARGER 0x550
#define IDM_LIVESMALLER 0x560
#define IDM_LIVELEFT 0x570
#define IDM_LIVERIGHT 0x580
#define IDM_LIVEUP 0x590
#define IDM_LIVEDOWN 0x5A0
#define IDM_NUDGELEFT 0x5B0
#define IDM_NUDGERIGHT 0x5C0
#define IDM_NUDGEUP 0x5D0
#define IDM_NUDGEDOWN 0x5E0
#define IDM_BINNINGMENU 0x5F0

/* Readouts: the auto radius beside the lattice radii, the radial profile's cursor readout and
   CSV, the standard filter's frequencies, the open dialog's second information line. */
#define IDC_SPOTRADIUSNOTE 460
#define IDC_LATRADIUSNOTE 461
#define IDC_RADIALREADOUT 462
#define IDC_RADIALSAVE 463
#define IDC_WAFREQ 464
#define IDC_WBFREQ 465
#define IDC_IMAGEINFO2 466

#endif

