KELVORA-SIM-FW component=cam_cpu version=V03.70
¶‰†ãæŠ¦W…ÖøíR:ƒä*¨yéXB<ÈÒÇ¢{üªBIváÔîÊüRJèæÿJ„(Æ^$±tõC¾ºŸƒB“