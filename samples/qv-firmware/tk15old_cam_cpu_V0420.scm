KELVORA-SIM-FW component=cam_cpu version=V04.20
+Sà1÷RrÜsLâ®Ì>È‚Ñ>™eGµ¤ª x{û~©CYcà±}çºX~6¡£EôºÌ­ÜôBÙÐšUÕ÷Êù