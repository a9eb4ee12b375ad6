KELVORA-SIM-FW component=cam_cpu version=V03.30
®Œ…!cÕk1ÅÏM˜” -.Às8—$ò<j¶Læ³ø–$²Êƒéô}6zBœYxèmy•cü|”¤ŒÜr–¬