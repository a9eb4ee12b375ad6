KELVORA-SIM-FW component=cam_cpu version=V04.70
l
¨¸ÜHcJßJÓí¢ß³l'O‹^Ş1×EÖşHâ(Ÿ‰›F4»yóÀÊmÊï”\ô <ù¤ Y‰Æ`~ıi
