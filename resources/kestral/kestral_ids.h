/* Resource and command ids of kestral, shared by the .rc files and the C++ code.
   Only #defines here: windres reads this file too. */
#ifndef KESTRAL_IDS_H
#define KESTRAL_IDS_H

/* Icon-bar buttons (control ids) */
#define IDB_K_GAP 132
#define IDB_K_READ 133
#define IDB_K_XTAL 134
#define IDB_K_PREV 135
#define IDB_K_NEXT 136
#define IDB_K_SAVEAS 137
#define IDB_K_SAVEGR 138
#define IDB_K_OPENBMP 139
#define IDB_K_ABOUT 140
#define IDB_K_HELP 141
#define IDB_K_EXIT 142
#define IDB_K_SPACE 143

/* Commands sent by the icon bar */
#define IDM_K_READ 122
#define IDM_K_CRYSTAL 123
#define IDM_K_PREVIOUS 124
#define IDM_K_NEXT 125
#define IDM_K_SAVEBMP 126
#define IDM_K_SAVEFILE 127
#define IDM_K_OPENBMP 128
#define IDM_K_ABOUT 129
#define IDM_K_HELP 130
#define IDM_K_EXIT 131

/* PARAMETERS_DLG */
#define IDC_A_AXIS 101
#define IDC_B_AXIS 102
#define IDC_C_AXIS 103
#define IDC_ALPHA 104
#define IDC_BETA 105
#define IDC_GAMMA 106
#define IDC_U 107
#define IDC_V 108
#define IDC_W 109
#define IDC_SYMBOL 110
#define IDC_X 111
#define IDC_Y 112
#define IDC_Z 113
#define IDC_COLOUR 114
#define IDC_NEXTROW 115
#define IDC_ROWLABEL 116
#define IDC_PERIODIC 150
#define IDC_SLABLABEL 151
#define IDC_SLAB 152

/* FILESELECT_DLG: the four choices, 117 + outputChoice, and the periodic cell's two (choices 4, 5) */
#define IDC_REFERENCE 117
#define IDC_NORMAL 118
#define IDC_CONVERGENT 119
#define IDC_CRYSTALFILE 120
#define IDC_CELLXYZ 153
#define IDC_CELLEXTXYZ 154

/* About box */
#define IDC_K_ABOUTICON 121

#endif
